# Warning flags for our own targets; -Werror when STELVIK_WERROR is on (CI).
function(stelvik_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
        if(STELVIK_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
        if(STELVIK_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()

# stelvik_add_test(tst_name LIBS lib... [SOURCES extra.cpp...] [TIMEOUT seconds])
# One executable per test file tests/<module>/tst_name.cpp, run offscreen with a private HOME
# and private ODBC ini files (the test support library sets those up inside the process).
function(stelvik_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;SOURCES" ${ARGN})
    add_executable(${name} ${name}.cpp ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} stelvik_testsupport Qt6::Test)
    stelvik_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;STELVIK_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
