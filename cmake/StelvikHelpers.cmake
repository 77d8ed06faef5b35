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

# stelvik_add_test(tst_name LIBS lib... [SOURCES extra.cpp...] [TIMEOUT seconds]
#                  [KEYRING_SESSIONS mode...] [NO_SUPPORT])
# One executable per test file tests/<module>/tst_name.cpp, run offscreen with a private HOME
# and private ODBC ini files (the test support library sets those up inside the process).
# NO_SUPPORT: a unit test of a library that needs no database, no settings and no files, linked
# to that library and Qt Test alone; its HOME is a folder that does not exist, so nothing of the
# user's is read.
# With KEYRING_SESSIONS, it runs once per mode as tst_name_<mode>, inside a private D-Bus session
# whose desktop keyring is in that state (tests/keyring-session), never the user's own.
function(stelvik_add_test name)
    cmake_parse_arguments(ARG "NO_SUPPORT" "TIMEOUT" "LIBS;SOURCES;KEYRING_SESSIONS" ${ARGN})
    add_executable(${name} ${name}.cpp ${ARG_SOURCES})
    set(environment "QT_QPA_PLATFORM=offscreen;STELVIK_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(ARG_NO_SUPPORT)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
        set(home ${CMAKE_CURRENT_BINARY_DIR}/${name}-no-home)
        list(APPEND environment "HOME=${home}" "XDG_CONFIG_HOME=${home}/.config"
            "XDG_DATA_HOME=${home}/.local/share" "XDG_CACHE_HOME=${home}/.cache")
    else()
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} stelvik_testsupport Qt6::Test)
    endif()
    stelvik_warnings(${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(runs ${name})
    if(ARG_KEYRING_SESSIONS)
        set(runs "")
        foreach(mode ${ARG_KEYRING_SESSIONS})
            add_test(NAME ${name}_${mode}
                COMMAND ${PROJECT_SOURCE_DIR}/tests/keyring-session ${mode} $<TARGET_FILE:${name}>)
            list(APPEND runs ${name}_${mode})
        endforeach()
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${runs} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "${environment}")
endfunction()

# stelvik_add_module(name SOURCES file... [LIBS lib...] [PRIVATE_LIBS lib...])
# One folder of src/ as one static library: its sources listed by name, src/ as the include root
# of everything that links it, our warning flags.
function(stelvik_add_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    if(ARG_PRIVATE_LIBS)
        target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_LIBS})
    endif()
    stelvik_warnings(${name})
endfunction()

# stelvik_add_tests(LIBS lib... TESTS tst_name... [TIMEOUT seconds] [NO_SUPPORT])
# The tests of one folder, each as stelvik_add_test does it, all linked to the same libraries.
function(stelvik_add_tests)
    cmake_parse_arguments(ARG "NO_SUPPORT" "TIMEOUT" "LIBS;TESTS" ${ARGN})
    set(options "")
    if(ARG_NO_SUPPORT)
        list(APPEND options NO_SUPPORT)
    endif()
    if(ARG_TIMEOUT)
        list(APPEND options TIMEOUT ${ARG_TIMEOUT})
    endif()
    foreach(name ${ARG_TESTS})
        stelvik_add_test(${name} LIBS ${ARG_LIBS} ${options})
    endforeach()
endfunction()
