# zel_library(NAME SOURCE...) declares one of the device libraries from the
# folder that holds it: the library itself (static, or shared with
# BUILD_SHARED_LIBS, versioned as the project), its public headers in
# include/ (the include path of its users, and what gets installed), and
# NAME_private, an interface target that adds the folder's internal headers
# for this project's tools, tests, fuzz entries and benchmarks only.
function(zel_library name)
  add_library(${name} ${ARGN})
  if(PROJECT_VERSION_MAJOR)
    # Shared objects carry the release in their names: libNAME.so.MAJOR.
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION}
      SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${ZEL_INSTALL_INCLUDE_SUBDIR}>)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/include/*.h)
  set_target_properties(${name} PROPERTIES PUBLIC_HEADER "${_headers}")

  add_library(${name}_private INTERFACE)
  target_include_directories(${name}_private INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_private INTERFACE ${name})
endfunction()
