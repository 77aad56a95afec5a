# Fails when a file of the analysis core includes anything of the shells above it (the programs,
# the dialog, Python) or a GUI, audio or Python library. Run by CTest with SOURCES.
file(GLOB files ${SOURCES}/*.h ${SOURCES}/*.cpp)
foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "#include [<\"](cli/|app/|python/|audio/|Q[A-Za-z]+|portaudio|pybind11)")
    if(includes)
        message(FATAL_ERROR "${file} includes a shell's or a library's header it must not: ${includes}")
    endif()
endforeach()
