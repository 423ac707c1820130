# Fuzz targets of the calibration number rules and the .cal loader, included by fuzz/CMakeLists.txt.
# For coverage-guided runs, configure the fuzz build with
#   -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
    foreach(target fuzz_numbers fuzz_calfile)
        add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${target} PRIVATE kestrovar_core)
        kv_warnings(${target})
    endforeach()
endif()
