# Installing and packaging the tutor: what `cmake --install` puts where, and the Debian
# package `make package` builds with CPack. Included at the end of the top CMakeLists.txt,
# after every program target exists.

include(GNUInstallDirs)

set(TUTOR_APP_ID io.github.classnotestutor.ClassNotesTutor)
set(TUTOR_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(TUTOR_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(TUTOR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/classnotes-tutor)
# The project's home page; the AppStream screenshot is the README's picture there.
set(TUTOR_HOMEPAGE https://github.com/classnotestutor/classnotes-tutor)
set(TUTOR_SCREENSHOT_URL https://raw.githubusercontent.com/classnotestutor/classnotes-tutor/main/docs/window.png)

# The programs the package carries, each with its man page packaging/<program>.1.
# The instructor's review tool joins the list as soon as its target exists.
set(TUTOR_INSTALLED_PROGRAMS classnotes-tutor)
if(TARGET classnotes-review)
    list(APPEND TUTOR_INSTALLED_PROGRAMS classnotes-review)
endif()

# A Windows program without a console window; a macOS application bundle (not built here).
set_target_properties(classnotes-tutor PROPERTIES
    WIN32_EXECUTABLE TRUE
    MACOSX_BUNDLE TRUE
    MACOSX_BUNDLE_BUNDLE_NAME "Class Notes Tutor"
    MACOSX_BUNDLE_GUI_IDENTIFIER ${TUTOR_APP_ID}
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION})

install(TARGETS ${TUTOR_INSTALLED_PROGRAMS}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    BUNDLE DESTINATION .)

# On macOS the Qt libraries and plugins travel with the program; on Linux the package depends
# on the distribution's Qt instead. On Windows Qt is linked statically (cmake/windows.cmake).
if(APPLE)
    qt_generate_deploy_app_script(TARGET classnotes-tutor FILENAME_VARIABLE tutor_deploy_script)
    install(SCRIPT ${tutor_deploy_script})
    install(FILES LICENSE DESTINATION ${TUTOR_DOC_DIR})
endif()

if(UNIX AND NOT APPLE)
    # Relocations resolved at start and then made read-only, as distributions build programs.
    foreach(program IN LISTS TUTOR_INSTALLED_PROGRAMS)
        target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
    endforeach()
    configure_file(${TUTOR_PACKAGING_DIR}/${TUTOR_APP_ID}.metainfo.xml
        ${TUTOR_GENERATED_DIR}/${TUTOR_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${TUTOR_PACKAGING_DIR}/${TUTOR_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${TUTOR_PACKAGING_DIR}/${TUTOR_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${TUTOR_GENERATED_DIR}/${TUTOR_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # Debian wants man pages and the changelog compressed at the highest level, without a
    # time stamp in the header, so the same sources give the same package.
    set(tutor_compressed "")
    foreach(program IN LISTS TUTOR_INSTALLED_PROGRAMS)
        configure_file(${TUTOR_PACKAGING_DIR}/${program}.1 ${TUTOR_GENERATED_DIR}/${program}.1 @ONLY)
        list(APPEND tutor_compressed ${program}.1)
    endforeach()
    # A native package (no Debian revision): its changelog is changelog.gz.
    configure_file(${TUTOR_PACKAGING_DIR}/debian/changelog ${TUTOR_GENERATED_DIR}/changelog @ONLY)
    list(APPEND tutor_compressed changelog)
    set(tutor_compressed_outputs "")
    foreach(file IN LISTS tutor_compressed)
        add_custom_command(OUTPUT ${TUTOR_GENERATED_DIR}/${file}.gz
            COMMAND sh -c "gzip -9n < '${file}' > '${file}.gz'"
            DEPENDS ${TUTOR_GENERATED_DIR}/${file}
            WORKING_DIRECTORY ${TUTOR_GENERATED_DIR}
            VERBATIM)
        list(APPEND tutor_compressed_outputs ${TUTOR_GENERATED_DIR}/${file}.gz)
    endforeach()
    add_custom_target(tutor_compressed_docs ALL DEPENDS ${tutor_compressed_outputs})
    foreach(program IN LISTS TUTOR_INSTALLED_PROGRAMS)
        install(FILES ${TUTOR_GENERATED_DIR}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
    install(FILES ${TUTOR_PACKAGING_DIR}/debian/copyright ${TUTOR_GENERATED_DIR}/changelog.gz
        DESTINATION ${TUTOR_DOC_DIR})
endif()

# What the package holds, built without the tests and benchmarks: `make package` builds this
# target, and CPack then installs without building everything first.
add_custom_target(tutor_package_contents DEPENDS ${TUTOR_INSTALLED_PROGRAMS})
if(TARGET tutor_compressed_docs)
    add_dependencies(tutor_package_contents tutor_compressed_docs)
endif()
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME classnotes-tutor)
set(CPACK_PACKAGE_VENDOR "Class Notes Tutor developers")
set(CPACK_PACKAGE_CONTACT "Class Notes Tutor developers <classnotes-tutor@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tutor for working through physics class notes")
set(CPACK_PACKAGE_DESCRIPTION
    "Class Notes Tutor shows a set of physics class notes one line at a time:
a question, then the instructor's given answer. The student types an
answer, a critique or a note, and every record is appended to plain-text
record files for the instructor.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TUTOR_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the library scan cannot see them: the display plugins and the fonts
# the window's layout was measured with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
include(CPack)
