# Fuzz targets of the device protocol: the pure block codec, and the receive handler of a real
# window fed arbitrary blocks and port events. Included by fuzz/CMakeLists.txt.
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
    foreach(target fuzz_protocol_blocks fuzz_protocol_oncomm)
        add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${target} PRIVATE kestrovar_core)
        kv_warnings(${target})
    endforeach()
endif()
