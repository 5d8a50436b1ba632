# The build's layers: one static library per folder of src/, each declaring the components it
# uses. A component sees only its own folder and the folders of what it uses (transitively),
# so an include of a layer it does not use fails to build:
#
#   lovar_component(NAME SOURCES file... [USES component...] [PRIVATE_USES target...])
#     makes lovar_NAME from src/NAME; "#include "NAME/x.h"" finds its headers. USES names other
#     components (without the lovar_ prefix); PRIVATE_USES other targets its sources alone use
#     (lovar::json). The declared graph also goes to the include check (cmake/CheckLayers.cmake,
#     the test "layers"), which holds every folder's includes to it.
#   lovar_warnings   the one INTERFACE target that carries the warning flags (-Werror with
#                    LOVAR_WERROR=ON); every target of ours links it privately
#   lovar_program(TARGET USES component...)   a program or test linked to components, with the
#                    warnings
#
# The layer roots are folders of symbolic links in the build folder, one per component
# (build/layers/model/model -> src/model). Where the file system makes no links the roots fall
# back to src/ as a whole: the build then holds no layer apart, the include check still does.

option(LOVAR_WERROR "Treat warnings as errors" OFF)

add_library(lovar_warnings INTERFACE)
if(MSVC)
  target_compile_options(lovar_warnings INTERFACE /W4 $<$<BOOL:${LOVAR_WERROR}>:/WX>)
else()
  target_compile_options(lovar_warnings INTERFACE -Wall -Wextra -Wno-missing-field-initializers
                                                  $<$<BOOL:${LOVAR_WERROR}>:-Werror>)
endif()

set(LOVAR_LAYERS_DIR ${CMAKE_BINARY_DIR}/layers)
set_property(GLOBAL PROPERTY LOVAR_COMPONENTS "")
set_property(GLOBAL PROPERTY LOVAR_LAYERS_HELD_APART ON)

function(lovar_layer_root name out)
  set(root ${LOVAR_LAYERS_DIR}/${name})
  if(NOT EXISTS ${root}/${name})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${name} ${root}/${name} SYMBOLIC RESULT failed)
    if(failed)
      message(STATUS "No link for the layer ${name} (${failed}): its includes are not held apart")
      set_property(GLOBAL PROPERTY LOVAR_LAYERS_HELD_APART OFF)
      set(root ${PROJECT_SOURCE_DIR}/src)
    endif()
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

function(lovar_component name)
  cmake_parse_arguments(arg "" "" "SOURCES;USES;PRIVATE_USES" ${ARGN})
  add_library(lovar_${name} STATIC ${arg_SOURCES})
  lovar_layer_root(${name} root)
  target_include_directories(lovar_${name} PUBLIC ${root})
  foreach(used IN LISTS arg_USES)
    target_link_libraries(lovar_${name} PUBLIC lovar_${used})
  endforeach()
  target_link_libraries(lovar_${name} PRIVATE lovar_warnings ${arg_PRIVATE_USES})
  set_property(GLOBAL APPEND PROPERTY LOVAR_COMPONENTS ${name})
  set_property(GLOBAL PROPERTY LOVAR_USES_${name} ${arg_USES})
endfunction()

# A component made otherwise (the windows, an object library with Qt; the version's generated
# headers) declares its uses here, so the include check knows them too.
# A folder whose other sources (a program's) use more than its library declares it here too.
function(lovar_declare_uses name)
  get_property(components GLOBAL PROPERTY LOVAR_COMPONENTS)
  if(NOT name IN_LIST components)
    set_property(GLOBAL APPEND PROPERTY LOVAR_COMPONENTS ${name})
  endif()
  set_property(GLOBAL PROPERTY LOVAR_USES_${name} ${ARGN})
endfunction()

function(lovar_program target)
  cmake_parse_arguments(arg "" "" "USES" ${ARGN})
  set(libraries lovar_warnings)
  foreach(used IN LISTS arg_USES)
    list(APPEND libraries lovar_${used})
  endforeach()
  target_link_libraries(${target} PRIVATE ${libraries})
endfunction()

# Written once every component is declared (end of src/CMakeLists.txt): the graph the include
# check reads, "name: used used ..." per line.
function(lovar_write_layer_graph file)
  get_property(components GLOBAL PROPERTY LOVAR_COMPONENTS)
  set(text "")
  foreach(name IN LISTS components)
    get_property(uses GLOBAL PROPERTY LOVAR_USES_${name})
    list(JOIN uses " " uses)
    string(APPEND text "${name}: ${uses}\n")
  endforeach()
  file(GENERATE OUTPUT ${file} CONTENT "${text}")
endfunction()
