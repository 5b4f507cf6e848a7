# Strict warnings as errors (CI turns this on): applied to every target this tree defines,
# after all folders are added, so no folder has to ask for it. Headers of Qt, GoogleTest and
# other packages come in as system includes and are not judged.
option(ZEVAVI_WERROR "Treat warnings as errors, with the strict warning set" OFF)

set(ZEVAVI_STRICT_WARNINGS -Werror -Wshadow -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2)

function(zevavi_strict_warnings dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_compile_options(${target} PRIVATE ${ZEVAVI_STRICT_WARNINGS})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    zevavi_strict_warnings(${sub})
  endforeach()
endfunction()

if(ZEVAVI_WERROR)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "ZEVAVI_WERROR knows the warning options of gcc and clang only")
  endif()
  zevavi_strict_warnings(${CMAKE_SOURCE_DIR})
endif()
