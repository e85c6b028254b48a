# Flags and helpers shared by every target of a tree.

set(QV_PURE_SYNC_SOURCES
  ${PROJECT_SOURCE_DIR}/quorvane/sync/ntp_time.cpp
  ${PROJECT_SOURCE_DIR}/quorvane/sync/reply.cpp
  ${PROJECT_SOURCE_DIR}/quorvane/sync/server_kiss.cpp)

if(QV_FLAVOUR STREQUAL "win")
  # Japanese literals are written in UTF-8 and reach the program as CP932.
  add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP932 -Wall -Wextra
                      -ffunction-sections)
  # What only one of the two Windows builds can get wrong is an error in
  # both: a function cast to a callback type it does not have, an integer
  # of another size made into a pointer. (A pointer cast to a smaller
  # integer is an error of C++ itself in the x86_64 build.) Window and
  # dialog data that hold pointers go through the ...LongPtr functions.
  add_compile_options(-Werror=cast-function-type -Werror=int-to-pointer-cast)
  add_compile_definitions(WINVER=0x0601 _WIN32_WINNT=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
  add_link_options(-static -Wl,--gc-sections)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
  set(CMAKE_RC_COMPILE_OBJECT
      "<CMAKE_RC_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -O coff <SOURCE> <OBJECT>")

  # Size-optimised product code without exceptions or RTTI; tests keep the
  # defaults that GoogleTest expects.
  # No unwind tables either: without exceptions nothing reads them. Both
  # programs tell Windows that they are terminal-server aware (no
  # compatibility shims for their Windows folder and INI files).
  function(qv_product_target target)
    target_compile_options(${target} PRIVATE -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
    target_link_options(${target} PRIVATE -s -Wl,--tsaware)
  endfunction()
  # A program that brings its own WinMainCRTStartup instead of the C
  # run-time's start-up code.
  function(qv_own_entry_point target)
    target_link_options(${target} PRIVATE -nostartfiles)
  endfunction()
else()
  add_compile_options(-Wall -Wextra -g)
  if(QV_FLAVOUR STREQUAL "fuzz")
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -O1)
    add_link_options(-fsanitize=address,undefined)
  else()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# A test that keeps a program within its size budget and Windows' own DLLs;
# with KNOWN_DLLS, within the DLLs that Windows always loads from its own
# folder, never from the program's.
function(qv_budget_test target max_kib)
  # The budgets measure what users receive: the i686 programs.
  if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    return()
  endif()
  set(known "")
  if("KNOWN_DLLS" IN_LIST ARGN)
    set(known known)
  endif()
  add_test(NAME budget_${target}
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-budget.sh $<TARGET_FILE:${target}> ${max_kib} ${known})
  # Also listed in budgets.txt, for a check without CTest (whose test list
  # would start Wine to discover the Windows tests).
  set_property(GLOBAL APPEND_STRING PROPERTY QV_BUDGETS "$<TARGET_FILE:${target}> ${max_kib} ${known}\n")
endfunction()
