# Shared compile settings for every target of the project.
add_library(orvel_settings INTERFACE)
target_compile_options(orvel_settings INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(orvel_settings INTERFACE BOOST_ASIO_NO_DEPRECATED_WARNINGS)

if(WIN32)
  # Windows 7 and later; wide-character Win32 API everywhere.
  target_compile_definitions(orvel_settings INTERFACE
    _WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(orvel_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(ORVEL_SANITIZE)
  target_compile_options(orvel_settings INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(orvel_settings INTERFACE -fsanitize=address,undefined)
endif()

# GCC 12 reports false -Wrestrict overlaps inside std::string at -O2 and above (its bug 105651):
# seen in the MinGW release build on plain string concatenation.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(orvel_settings INTERFACE -Wno-restrict)
endif()
