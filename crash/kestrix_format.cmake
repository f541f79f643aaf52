# The format code shared by the build-step tools and the library: the
# settings record, the readable settings file, the default table, the cipher.
# Paths relative to the source root; included by crash/ and by tools/ when
# tools/ is built on its own as the host tools of a cross build.
set(KESTRIX_FORMAT_SOURCES
  crash/settings_record.cpp
  crash/settings_defaults.cpp
  crash/settings_file.cpp
  crash/kx_cipher.cpp)
