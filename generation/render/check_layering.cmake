# Fails when an instruction-set object defines any external symbol but its kernel table (an
# inline function compiled for AVX could then be linked into generic code), or when a file of the
# engine includes the job's headers. Run by CTest with NM, OBJECTS (a list) and SOURCES.
foreach(object IN LISTS OBJECTS)
    execute_process(COMMAND ${NM} --defined-only --extern-only --format=posix ${object}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "nm failed on ${object}")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
    # Data that sanitizers and exception tables add, not code.
    list(FILTER lines EXCLUDE REGEX "^(__odr_asan|DW\\.ref\\.)")
    list(LENGTH lines count)
    if(NOT count EQUAL 1 OR NOT lines MATCHES "^_ZN6render[0-9]+k[A-Za-z0-9]+KernelE ")
        message(FATAL_ERROR "${object} must export only its kernel table, but exports:\n${symbols}")
    endif()
endforeach()
file(GLOB engine_files ${SOURCES}/*.h ${SOURCES}/*.cpp)
foreach(file IN LISTS engine_files)
    file(STRINGS ${file} includes REGEX "#include \"generation/(generate_job|job_sources|feedback)\\.h\"")
    if(includes)
        message(FATAL_ERROR "${file} includes the job's header: ${includes}")
    endif()
endforeach()
