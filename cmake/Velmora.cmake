# velmora_library(<folder> [NAME <name>] [EXCLUDE <files...>] PUBLIC <targets...>
#                 PRIVATE <targets...>)
# One static library per src/<folder>, built from every source in that folder. Its link lists are
# the whole of what it may use; scripts/check-layers holds every include of src/ to them. PUBLIC
# links are those its headers expose to whoever links it, PRIVATE ones stay inside it.
# NAME gives the target velmora_<name> for a nested folder such as book/theme; EXCLUDE leaves out
# files of the folder that belong to an executable.
function(velmora_library folder)
  cmake_parse_arguments(ARG "" "NAME" "EXCLUDE;PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.h
    ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.qrc)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/${excluded})
  endforeach()
  set(target velmora_${folder})
  if(ARG_NAME)
    set(target velmora_${ARG_NAME})
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} velmora_build_options
    PRIVATE ${ARG_PRIVATE})
endfunction()

# velmora_tests(LIBS <targets...>)
# Every tests/<folder>/tst_<topic>.cpp becomes one QtTest executable registered with CTest.
set(VELMORA_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/lsan.supp)
# The leak checker's hook on __tls_get_addr (GCC 12's runtime) takes a thread-local block that
# happens to start 16 bytes into a page for one with an old glibc header, reads the two words
# before it as an address and a length, and its tracer then crashes at exit after every check
# passed. The layout repeats from run to run, so running again does not help; the hook is off.
set(VELMORA_LSAN_OPTIONS
  "LSAN_OPTIONS=suppressions=${VELMORA_LSAN_SUPPRESSIONS}:print_suppressions=0:intercept_tls_get_addr=0")

# NO_LEAK_CHECK: for tests that run the whole program, where a task still waiting on the store
# when the program quits keeps its coroutine frame until the process ends.
function(velmora_tests)
  cmake_parse_arguments(ARG "NO_LEAK_CHECK" "" "LIBS" ${ARGN})
  set(leaks "${VELMORA_LSAN_OPTIONS}")
  if(ARG_NO_LEAK_CHECK)
    set(leaks "ASAN_OPTIONS=detect_leaks=0")
  endif()
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(source ${test_sources})
    get_filename_component(topic ${source} NAME_WE)
    set(target ${folder}_${topic})
    add_executable(${target} ${source})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} velmora_testsupport Qt6::Test)
    add_test(NAME ${folder}.${topic} COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-test
                                             $<TARGET_FILE:${target}>)
    # Leaks are reported; the suppressions name only libraries outside the project that keep
    # process-lifetime caches (fonts, the session bus, recognition models, dictionaries).
    set_tests_properties(${folder}.${topic} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${leaks}"
      TIMEOUT 300)
  endforeach()
endfunction()
