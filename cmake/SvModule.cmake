# sv_module(NAME DIR... [DEPS target...] [EXCLUDE regex])
# One static library from the .cpp files of the given folders, but for those whose path
# matches EXCLUDE. Files named NAME_test.cpp
# form the module's test program NAME_tests, registered with CTest; main.cpp files are
# program entries and are left to their programs.
set(SV_TSAN_MODULES sv_eventlog sv_console sv_controller sv_host sv_server sv_platform sv_sync CACHE STRING
    "Modules whose tests also run in the ThreadSanitizer build")

function(sv_module name)
  cmake_parse_arguments(M "" "EXCLUDE" "DEPS" ${ARGN})
  set(srcs)
  set(tests)
  foreach(d IN LISTS M_UNPARSED_ARGUMENTS)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${d}/*.cpp)
    foreach(f IN LISTS found)
      if(M_EXCLUDE AND f MATCHES "${M_EXCLUDE}")
        continue()
      elseif(f MATCHES "_test\\.cpp$")
        list(APPEND tests ${f})
      elseif(NOT f MATCHES "/main\\.cpp$")
        list(APPEND srcs ${f})
      endif()
    endforeach()
  endforeach()

  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()

  if(tests AND (NOT SV_TSAN OR name IN_LIST SV_TSAN_MODULES))
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} sv_testmain)
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS ${name} TIMEOUT ${SV_TEST_TIMEOUT} ${SV_TEST_ENVIRONMENT})
  endif()
endfunction()
