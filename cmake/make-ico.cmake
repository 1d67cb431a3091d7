# cmake -DRSVG=... -DICOTOOL=... -DSVG=in.svg -DICO=out.ico -P make-ico.cmake
# Each size drawn from the SVG at that size (small icons stay sharp); 256 stays PNG inside the .ico.
get_filename_component(dir ${ICO} DIRECTORY)
set(pngs "")
foreach(size 16 24 32 48 64 128)
    execute_process(COMMAND ${RSVG} -w ${size} -h ${size} -o ${dir}/icon-${size}.png ${SVG} COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND pngs ${dir}/icon-${size}.png)
endforeach()
execute_process(COMMAND ${RSVG} -w 256 -h 256 -o ${dir}/icon-256.png ${SVG} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${ICOTOOL} -c -o ${ICO} ${pngs} --raw=${dir}/icon-256.png COMMAND_ERROR_IS_FATAL ANY)
