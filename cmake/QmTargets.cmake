# Helpers shared by every folder's CMakeLists.txt.

# Adds a folder that has a CMakeLists.txt (folders of later layers may not exist yet).
macro(qm_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

# The export list for the linker, generated from the X-macro list in the public header.
function(qm_export_map out)
  file(STRINGS ${PROJECT_SOURCE_DIR}/include/quillmere/quillmere.h lines REGEX "^[ ]+X\\([A-Za-z]+\\)")
  set(body "{\n  global:\n")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ ]+X\\(([A-Za-z]+)\\).*" "\\1" name "${line}")
    string(APPEND body "    ${name};\n")
  endforeach()
  string(APPEND body "    qmCreateHostWindow;\n    qmDestroyHostWindow;\n  local:\n    *;\n};\n")
  file(WRITE ${out}.tmp "${body}")
  file(COPY_FILE ${out}.tmp ${out} ONLY_IF_DIFFERENT)
endfunction()

# A static library of one folder. Headers are included by their path from the project root.
function(qm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  if(ARG_LINK)
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
  endif()
endfunction()

# A GoogleTest executable registered with CTest.
function(qm_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# A Google Benchmark executable.
function(qm_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} benchmark::benchmark)
endfunction()
