# Include roots. Headers are named by folder (#include "rtl/sysutils.h"), but no layer sees the
# repository root: each folder gets a root of its own under the build folder that holds only that
# folder (a symbolic link to it), and a target sees the roots it is given and those of the
# libraries it links. A layer therefore sees its own headers and those of the layers below it, and
# an include of a higher layer's header fails to compile.
#
# updatebank_include_root(ROOT ITEM...): the root named ROOT, holding the given files or folders of
# the repository under their own paths; its directory goes into the variable UPDATEBANK_ROOT_<ROOT>.
function(updatebank_include_root root)
    set(dir ${PROJECT_BINARY_DIR}/include/${root})
    foreach(item ${ARGN})
        get_filename_component(parent ${dir}/${item} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        if(NOT IS_SYMLINK ${dir}/${item})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${item} ${dir}/${item} SYMBOLIC)
        endif()
    endforeach()
    set(UPDATEBANK_ROOT_${root} ${dir} PARENT_SCOPE)
endfunction()

# updatebank_layer(NAME SOURCES a.cpp b.cpp ... [DEPS layer...] [LIBS external...]
#                  [FOLDER folder] [PRIVATE_HEADERS])
# Makes the static library of one layer, whose headers live in FOLDER (by default NAME). DEPS are
# lower layers only. Its root is public, so that the layers above see its headers, unless
# PRIVATE_HEADERS is given: then the layer says itself which of its headers others may see.
function(updatebank_layer name)
    cmake_parse_arguments(L "PRIVATE_HEADERS" "FOLDER" "SOURCES;DEPS;LIBS" ${ARGN})
    if(NOT L_FOLDER)
        set(L_FOLDER ${name})
    endif()
    updatebank_include_root(${L_FOLDER} ${L_FOLDER})
    add_library(${name} STATIC ${L_SOURCES})
    if(L_PRIVATE_HEADERS)
        target_include_directories(${name} PRIVATE ${UPDATEBANK_ROOT_${L_FOLDER}})
    else()
        target_include_directories(${name} PUBLIC ${UPDATEBANK_ROOT_${L_FOLDER}})
    endif()
    target_link_libraries(${name} PUBLIC ${L_DEPS} ${L_LIBS})
    set(UPDATEBANK_ROOT_${L_FOLDER} ${UPDATEBANK_ROOT_${L_FOLDER}} PARENT_SCOPE)
endfunction()

# updatebank_test(NAME SOURCES ... DEPS ...): one GoogleTest program, its cases registered with CTest.
# Besides what its DEPS show, a test program sees the tests' own headers (tests/...).
function(updatebank_test name)
    cmake_parse_arguments(T "" "" "SOURCES;DEPS" ${ARGN})
    find_package(GTest REQUIRED)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_DEPS} test_support GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        UPDATEBANK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        UPDATEBANK_BINARY_DIR="${PROJECT_BINARY_DIR}")
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "UPDATEBANK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
