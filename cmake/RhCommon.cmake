# Shared compile settings: every target of the project links rh_settings.
add_library(rh_settings INTERFACE)
target_compile_features(rh_settings INTERFACE cxx_std_20)
target_compile_options(rh_settings INTERFACE -Wall -Wextra)
target_compile_definitions(rh_settings INTERFACE
  QT_NO_FOREACH
  QT_NO_KEYWORDS
  QT_DISABLE_DEPRECATED_UP_TO=0x060000
  RH_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  RH_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  RH_VERSION_PATCH=${PROJECT_VERSION_PATCH})

# rh_layer(<name> DEPS <targets...>): one static library per folder of src/,
# sources picked up by glob so parallel work does not fight over this file.
function(rh_layer name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.h)
  add_library(rh_${name} STATIC ${_src})
  target_include_directories(rh_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(rh_${name} PUBLIC rh_settings ${L_DEPS})
endfunction()
