# Fails when a file of the Python module includes another shell's header (the programs, the dialog)
# or Qt: the module is a shell over the core, beside them. Run by CTest with SOURCES.
file(GLOB files ${SOURCES}/*.h ${SOURCES}/*.cpp)
foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "#include [<\"](cli/|app/|Q[A-Za-z]+)")
    if(includes)
        message(FATAL_ERROR "${file} includes a shell's or a GUI's header it must not: ${includes}")
    endif()
endforeach()
