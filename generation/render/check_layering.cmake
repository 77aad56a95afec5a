# Fails when an instruction-set object defines any external symbol but its kernel table (an
# inline function compiled for AVX could then be linked into generic code). Run by CTest with NM and
# OBJECTS (a list). (That no engine file includes the job's headers is render.Layering's check.)
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
