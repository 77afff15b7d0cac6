# Fails when the shared library LIBRARY exports a test hook: a function declared with OXL_TEST_HOOK in the
# headers under SOURCE_DIR, or one whose name says it is for tests (...ForTesting, ...ForTestOnly, a
# ::testing:: namespace).

execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
                RESULT_VARIABLE rc OUTPUT_VARIABLE symbols ERROR_VARIABLE error)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY} (${rc}): ${error}")
endif()
if(NOT symbols MATCHES "oxl::netutils::GlobalInit\\(\\)")
    message(FATAL_ERROR "GlobalInit is not among the exported symbols of ${LIBRARY}: the listing is unusable")
endif()

set(hooks "")
file(GLOB_RECURSE headers ${SOURCE_DIR}/include/*.h ${SOURCE_DIR}/src/*.h)
foreach(header ${headers})
    file(READ ${header} text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    # A return type must come before the name, so constructors are left out.
    string(REGEX MATCHALL "OXL_TEST_HOOK[ \t\n]+[^;{(]*[A-Za-z0-9_>:*&][ \t*&]+[A-Za-z_][A-Za-z0-9_]*[ \t]*\\("
           declarations "${text}")
    foreach(declaration ${declarations})
        string(REGEX REPLACE ".*[ \t*&]([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\($" "\\1" name "${declaration}")
        list(APPEND hooks ${name})
    endforeach()
endforeach()
list(REMOVE_DUPLICATES hooks)

set(offenders "")
string(REGEX MATCHALL "[^\n]*(ForTesting|ForTestOnly|::testing::)[^\n]*" named "${symbols}")
list(APPEND offenders ${named})
foreach(name ${hooks})
    string(REGEX MATCHALL "[^\n]*::${name}\\([^\n]*" found "${symbols}")
    list(APPEND offenders ${found})
endforeach()
list(REMOVE_DUPLICATES offenders)
if(offenders)
    list(JOIN offenders "\n  " text)
    message(FATAL_ERROR "test hooks exported from ${LIBRARY}:\n  ${text}")
endif()
list(LENGTH hooks count)
message(STATUS "no test hook exported (${count} declared hooks checked)")
