# Installs the built library into a scratch prefix, then configures, builds and runs a separate project that
# finds it with find_package(oxlnetutils) and with pkg-config.
set(work ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${work})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${work}/consumer-build
                        -G Ninja -DCMAKE_PREFIX_PATH=${work}/prefix
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${work}/consumer-build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${work}/consumer-build/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "GlobalInit: 0")
    message(FATAL_ERROR "the consumer did not run as expected (${rc}): ${out}")
endif()
set(ENV{PKG_CONFIG_PATH} ${work}/prefix/lib/pkgconfig:${work}/prefix/lib/x86_64-linux-gnu/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs oxlnetutils RESULT_VARIABLE rc OUTPUT_VARIABLE flags)
if(NOT rc EQUAL 0 OR NOT flags MATCHES "-loxlnetutils")
    message(FATAL_ERROR "pkg-config does not know oxlnetutils (${rc}): ${flags}")
endif()

# The embedding example, as installed, builds against the package and runs through: no DNS server answers
# (a closed loopback port), so both domains are invisible and the transfer finds no listener.
file(GLOB_RECURSE example_lists ${work}/prefix/CMakeLists.txt)
list(FILTER example_lists INCLUDE REGEX "/examples/CMakeLists.txt$")
list(LENGTH example_lists found)
if(NOT found EQUAL 1)
    message(FATAL_ERROR "the example is not installed once (${example_lists})")
endif()
get_filename_component(examples ${example_lists} DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${examples} -B ${work}/example-build -G Ninja
                        -DCMAKE_PREFIX_PATH=${work}/prefix RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the installed example failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${work}/example-build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the installed example failed: ${rc}")
endif()
execute_process(COMMAND ${work}/example-build/oxl_host_example --dns-server 127.0.0.1:1 http://127.0.0.1:1/
                RESULT_VARIABLE rc OUTPUT_VARIABLE example_out ERROR_VARIABLE example_err TIMEOUT 120)
foreach(expected "internal: not visible" "edge: not visible" "clients ready"
                 "basic http://127.0.0.1:1/ -> HOST_UNREACHABLE_ERROR"
                 "multi http://127.0.0.1:1/ -> " "cleaned up")
    string(FIND "${example_out}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the example (${rc}) did not print '${expected}':\n${example_out}\n${example_err}")
    endif()
endforeach()
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the example exited with ${rc}:\n${example_out}\n${example_err}")
endif()
message(STATUS "install check passed: ${out}")
