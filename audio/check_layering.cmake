# Fails when a file of the audio room includes anything of the shells above it (the programs, the
# dialog, Python), of the analysis core beside it, or a GUI or Python library. Run by CTest with SOURCES.
file(GLOB files ${SOURCES}/*.h ${SOURCES}/*.cpp)
foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "#include [<\"](cli/|app/|python/|analysis/|Q[A-Za-z]+|pybind11)")
    if(includes)
        message(FATAL_ERROR "${file} includes a shell's or a library's header it must not: ${includes}")
    endif()
endforeach()
