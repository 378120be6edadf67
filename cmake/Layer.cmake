# updatebank_layer(NAME SOURCES a.cpp b.cpp ... [DEPS layer...] [LIBS external...])
# Makes the static library of one layer. DEPS are lower layers only; the include root is the
# repository, so headers are named by folder: #include "rtl/sysutils.h".
function(updatebank_layer name)
    cmake_parse_arguments(L "" "" "SOURCES;DEPS;LIBS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_DEPS} ${L_LIBS})
endfunction()

# updatebank_test(NAME SOURCES ... DEPS ...): one GoogleTest program, its cases registered with CTest.
function(updatebank_test name)
    cmake_parse_arguments(T "" "" "SOURCES;DEPS" ${ARGN})
    find_package(GTest REQUIRED)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        UPDATEBANK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        UPDATEBANK_BINARY_DIR="${PROJECT_BINARY_DIR}")
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "UPDATEBANK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
