# The package's version, worked out when the package is made (CPack reads this file then, with
# CPACK_PACKAGE_VERSION set to the project's version and VORLANX_SOURCE_DIR to the checkout):
#  - a commit tagged v<version>, or a tree without git (a release tarball): the version itself;
#  - any other build: <version>+git<commits>.g<hash>, and .dirty<seconds since 1970> when the
#    tree has changes, so that each newer build sorts after the last and installs over it.
# Run with cmake -P (and -DVORLANX_VERSION=..., -DVORLANX_SOURCE_DIR=...), it prints the version.
if(NOT DEFINED VORLANX_VERSION)
    set(VORLANX_VERSION ${CPACK_PACKAGE_VERSION})
    set(VORLANX_SOURCE_DIR ${CPACK_VORLANX_SOURCE_DIR})
endif()
find_program(VORLANX_GIT git)
set(version ${VORLANX_VERSION})
if(VORLANX_GIT AND EXISTS ${VORLANX_SOURCE_DIR}/.git)
    set(git ${VORLANX_GIT} -C ${VORLANX_SOURCE_DIR})
    execute_process(COMMAND ${git} describe --exact-match --tags --match v${VORLANX_VERSION} HEAD
                    RESULT_VARIABLE untagged OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${git} status --porcelain --untracked-files=no OUTPUT_VARIABLE changes
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(untagged OR changes)
        execute_process(COMMAND ${git} rev-list --count HEAD OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE)
        execute_process(COMMAND ${git} rev-parse --short=8 HEAD OUTPUT_VARIABLE hash OUTPUT_STRIP_TRAILING_WHITESPACE)
        set(version "${VORLANX_VERSION}+git${count}.g${hash}")
        if(changes)
            string(TIMESTAMP now "%s" UTC)
            string(APPEND version ".dirty${now}")
        endif()
    endif()
endif()
if(CMAKE_SCRIPT_MODE_FILE AND NOT CPACK_GENERATOR)
    message("${version}")
else()
    set(CPACK_PACKAGE_VERSION ${version})
    set(CPACK_DEBIAN_PACKAGE_VERSION ${version})
endif()
