# Fails when a source file of a folder includes a header it must not: the layers above it, or a
# library its room keeps out. Run by CTest with SOURCES (the folder) and FORBIDDEN (a regular
# expression for what follows "#include <" or "#include \"").
file(GLOB files ${SOURCES}/*.h ${SOURCES}/*.cpp)
foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "#include [<\"](${FORBIDDEN})")
    if(includes)
        message(FATAL_ERROR "${file} includes a header its layer must not: ${includes}")
    endif()
endforeach()
