# The layers of the code (docs/architecture.md). Every folder of code is the library of one layer,
# and an include names its folder: #include "protocol/packets.h". A library's sources see only its
# own folder and the folders of the libraries it links, each through an include root of its own that
# holds nothing but a link to that folder. So an include of a layer above, or beside, does not
# compile: the folder is not there to be found.

# Gives target the include root build/include-roots/<target>/<folder> -> <source>/<folder>, seen by
# the target and by everything that links it.
function(orvel_include_root target folder)
  set(root "${CMAKE_BINARY_DIR}/include-roots/${target}")
  cmake_path(GET folder PARENT_PATH parent)
  file(MAKE_DIRECTORY "${root}/${parent}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${root}")
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE "${root}")
  else()
    target_include_directories(${target} PUBLIC "${root}")
  endif()
endfunction()

# orvel_layer(<target> <folder> [SOURCES <files>...] [LINKS <targets>...])
# A static library of the folder's .cpp files (or of SOURCES, relative to the folder), linking
# LINKS publicly. Every header of the folder is also compiled on its own, as a file of the
# library: it must bring what it needs, and it too sees nothing above its layer.
function(orvel_layer target folder)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "SOURCES;LINKS")
  set(dir "${PROJECT_SOURCE_DIR}/${folder}")
  if(ARG_SOURCES)
    list(TRANSFORM ARG_SOURCES PREPEND "${dir}/" OUTPUT_VARIABLE sources)
  else()
    file(GLOB sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  endif()
  file(GLOB headers CONFIGURE_DEPENDS "${dir}/*.h")
  foreach(header IN LISTS headers)
    cmake_path(GET header STEM stem)
    set(check "${CMAKE_BINARY_DIR}/header-checks/${target}/${stem}.cpp")
    file(CONFIGURE OUTPUT "${check}" CONTENT "#include \"${folder}/${stem}.h\"\n")
    list(APPEND sources "${check}")
  endforeach()
  add_library(${target} STATIC ${sources})
  target_link_libraries(${target} PUBLIC orvel_settings ${ARG_LINKS})
  orvel_include_root(${target} ${folder})
endfunction()
