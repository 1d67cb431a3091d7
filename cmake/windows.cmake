# The Windows build (MinGW-w64 against a static Qt, see tools/build-qt-windows): resources, static
# runtime, the platform plugins the programs and tests need, the MSI and the portable zip.
# Included at the end of the top CMakeLists.txt, after every target exists.

set(TUTOR_WINDOWS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows)
set(TUTOR_WINDOWS_OUT ${CMAKE_CURRENT_BINARY_DIR}/windows)
set(TUTOR_PUBLISHER "Class Notes Tutor developers")

# Every program links the C and C++ runtimes and winpthread statically: one .exe that runs
# without MinGW's DLLs beside it. Programs that open windows carry the Windows platform plugin;
# the offscreen and minimal ones let tests and --help run without a desktop.
# The benchmarks measure this machine's processes and are not built for Windows, nor is the
# crash tool, which kills its writers with SIGKILL.

# Every target of the project, folder by folder.
function(tutor_all_targets out dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        tutor_all_targets(sub ${subdir})
        list(APPEND targets ${sub})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()
tutor_all_targets(tutor_targets ${CMAKE_CURRENT_SOURCE_DIR})
foreach(target_name IN LISTS tutor_targets)
    get_target_property(target_type ${target_name} TYPE)
    get_target_property(excluded ${target_name} EXCLUDE_FROM_ALL)
    if(excluded OR target_name STREQUAL "crash_records")
        set_target_properties(${target_name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    elseif(target_type STREQUAL "EXECUTABLE")
        target_link_options(${target_name} PRIVATE -static)
        get_target_property(target_libraries ${target_name} LINK_LIBRARIES)
        if(target_libraries MATCHES "tutor_gui|tutor_test_support|Qt6::Gui|Qt6::Widgets")
            qt_import_plugins(${target_name}
                INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin
                        Qt6::QMinimalIntegrationPlugin)
            target_sources(${target_name} PRIVATE ${TUTOR_WINDOWS_DIR}/directwrite_stub.cpp)
        endif()
    endif()
endforeach()

# The icon: drawn from the desktop's SVG at the sizes Windows asks for, packed into one .ico.
find_program(TUTOR_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TUTOR_ICOTOOL icotool REQUIRED)
set(TUTOR_ICO ${TUTOR_WINDOWS_OUT}/classnotes-tutor.ico)
add_custom_command(OUTPUT ${TUTOR_ICO}
    COMMAND ${CMAKE_COMMAND} -DRSVG=${TUTOR_RSVG_CONVERT} -DICOTOOL=${TUTOR_ICOTOOL}
            -DSVG=${TUTOR_PACKAGING_DIR}/${TUTOR_APP_ID}.svg -DICO=${TUTOR_ICO}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/make-ico.cmake
    DEPENDS ${TUTOR_PACKAGING_DIR}/${TUTOR_APP_ID}.svg ${CMAKE_CURRENT_SOURCE_DIR}/cmake/make-ico.cmake
    VERBATIM)

# Version information (Explorer's Details tab) for both programs; the tutor also carries the
# icon as IDI_ICON1, which Qt's Windows plugin takes for its windows and Explorer for the file.
function(tutor_windows_resources target_name description with_icon)
    set(RC_DESCRIPTION "${description}")
    set(RC_NAME ${target_name})
    set(RC_ICON "")
    if(with_icon)
        set(RC_ICON "IDI_ICON1 ICON \"${TUTOR_ICO}\"")
    endif()
    configure_file(${TUTOR_WINDOWS_DIR}/program.rc.in ${TUTOR_WINDOWS_OUT}/${target_name}.rc @ONLY)
    target_sources(${target_name} PRIVATE ${TUTOR_WINDOWS_OUT}/${target_name}.rc)
    if(with_icon)
        set_source_files_properties(${TUTOR_WINDOWS_OUT}/${target_name}.rc PROPERTIES OBJECT_DEPENDS ${TUTOR_ICO})
    endif()
endfunction()
# What is shipped goes without its symbols (a static Qt's make each program about 40 MB).
target_link_options(classnotes-tutor PRIVATE -s)
target_link_options(classnotes-review PRIVATE -s)
tutor_windows_resources(classnotes-tutor "Class Notes Tutor" ON)
tutor_windows_resources(classnotes-review "Class Notes Tutor: reader of the record files" OFF)

# The MSI (wixl) and the portable zip of the same programs: `cmake --build . --target windows_packages`.
find_program(TUTOR_WIXL wixl)
find_program(TUTOR_MSIBUILD msibuild)
find_program(TUTOR_ZIP zip)
set(TUTOR_MSI ${CMAKE_CURRENT_BINARY_DIR}/classnotes-tutor-${PROJECT_VERSION}-x64.msi)
set(TUTOR_ZIP_FILE ${CMAKE_CURRENT_BINARY_DIR}/classnotes-tutor-${PROJECT_VERSION}-windows-x64.zip)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/LICENSE ${TUTOR_WINDOWS_OUT}/LICENSE.txt COPYONLY)
if(TUTOR_WIXL AND TUTOR_MSIBUILD AND TUTOR_ZIP)
    add_custom_command(OUTPUT ${TUTOR_MSI}
        # wixl takes the icon's path only relative to where it runs.
        COMMAND ${TUTOR_WIXL} -a x64 -o ${TUTOR_MSI}
                -D Version=${PROJECT_VERSION} -D Publisher=${TUTOR_PUBLISHER}
                -D TutorExe=$<TARGET_FILE_NAME:classnotes-tutor> -D ReviewExe=$<TARGET_FILE_NAME:classnotes-review>
                -D Licence=windows/LICENSE.txt -D Icon=windows/classnotes-tutor.ico
                ${TUTOR_WINDOWS_DIR}/classnotes-tutor.wxs
        # wixl has no Permanent attribute: mark the home folder's component permanent (16, with
        # 256 for 64-bit), so that no uninstall ever removes c:\tulmarox.
        COMMAND ${TUTOR_MSIBUILD} ${TUTOR_MSI} -q "UPDATE Component SET Attributes = 272 WHERE Component = 'HomeFolder'"
        DEPENDS classnotes-tutor classnotes-review ${TUTOR_WINDOWS_DIR}/classnotes-tutor.wxs ${TUTOR_ICO}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        VERBATIM)
    set(zip_dir ${TUTOR_WINDOWS_OUT}/zip/classnotes-tutor-${PROJECT_VERSION})
    add_custom_command(OUTPUT ${TUTOR_ZIP_FILE}
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${TUTOR_WINDOWS_OUT}/zip ${TUTOR_ZIP_FILE}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_dir}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:classnotes-tutor> $<TARGET_FILE:classnotes-review>
                ${TUTOR_WINDOWS_OUT}/LICENSE.txt ${zip_dir}
        COMMAND ${CMAKE_COMMAND} -E chdir ${TUTOR_WINDOWS_OUT}/zip
                ${TUTOR_ZIP} -q -X -r ${TUTOR_ZIP_FILE} classnotes-tutor-${PROJECT_VERSION}
        DEPENDS classnotes-tutor classnotes-review
        VERBATIM)
    add_custom_target(windows_packages ALL DEPENDS ${TUTOR_MSI} ${TUTOR_ZIP_FILE})
endif()

# The tests run under Wine here, where this machine's folders are drive Z:.
if(TARGET tst_reliability_stress)
    get_target_property(stress_definitions tst_reliability_stress COMPILE_DEFINITIONS)
    list(FILTER stress_definitions EXCLUDE REGEX "^RECORD_WRITER=")
    list(APPEND stress_definitions "RECORD_WRITER=\"Z:$<TARGET_FILE:record_writer>\"")
    set_target_properties(tst_reliability_stress PROPERTIES COMPILE_DEFINITIONS "${stress_definitions}")
endif()
