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
message(STATUS "install check passed: ${out}")
