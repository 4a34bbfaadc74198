# libFuzzer targets for the AppleDouble parsers (tests/fuzz/<name>_fuzz.cpp).
# They need clang: CXX=clang++ cmake -DBRACKWATER_FUZZ=ON ...; tests/fuzz/run.sh
# configures, builds and runs them seeded with the test corpus.
option(BRACKWATER_FUZZ "Build the libFuzzer targets in tests/fuzz (needs clang)" OFF)
if(BRACKWATER_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "BRACKWATER_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    file(GLOB BRACKWATER_FUZZ_TARGETS CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
    foreach(fuzz_source ${BRACKWATER_FUZZ_TARGETS})
        get_filename_component(fuzz_name ${fuzz_source} NAME_WE)
        # The codec alone: no Qt, no I/O.
        add_executable(${fuzz_name} ${fuzz_source} ${CMAKE_CURRENT_SOURCE_DIR}/platform/files/linux/AppleDouble.cpp)
        target_include_directories(${fuzz_name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
        target_compile_options(${fuzz_name} PRIVATE
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g)
        target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer,address,undefined)
    endforeach()
endif()
