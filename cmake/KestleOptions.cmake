# Compiler settings shared by every target of the project.
find_package(Threads REQUIRED)

set(KESTLE_SANITIZE_FLAGS "")
if(KESTLE_SANITIZE STREQUAL "address")
  set(KESTLE_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(KESTLE_SANITIZE STREQUAL "thread")
  set(KESTLE_SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT KESTLE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KESTLE_SANITIZE must be address, thread or empty")
endif()
if(KESTLE_SANITIZE_FLAGS)
  add_compile_options(${KESTLE_SANITIZE_FLAGS})
  add_link_options(${KESTLE_SANITIZE_FLAGS})
endif()

function(kestle_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KESTLE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_link_libraries(${target} PRIVATE Threads::Threads)
endfunction()

# The library's own objects: position-independent (they go into the shared library too) and
# hidden unless a public header marks them KESTLE_API.
function(kestle_object_options target)
  kestle_target_options(${target})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
