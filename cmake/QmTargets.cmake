# Helpers shared by every folder's CMakeLists.txt.

# Adds a folder that has a CMakeLists.txt (folders of later layers may not exist yet).
macro(qm_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

# The export names of the X-macro list in the public header, in order.
function(qm_export_names result)
  set(headerPath ${PROJECT_SOURCE_DIR}/include/quillmere/quillmere.h)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headerPath})
  file(READ ${headerPath} header)
  string(REGEX MATCHALL "\n[ ]+X\\([A-Za-z]+\\)" entries "${header}")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".*X\\(([A-Za-z]+)\\)" "\\1" name "${entry}")
    list(APPEND names ${name})
  endforeach()
  set(${result} ${names} PARENT_SCOPE)
endfunction()

# The export list for the linker, generated from the X-macro list in the public header.
function(qm_export_map out)
  qm_export_names(names)
  set(body "{\n  global:\n")
  foreach(name IN LISTS names)
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
