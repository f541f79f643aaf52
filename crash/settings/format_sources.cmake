# The format code shared by the build-step tool kxsettings and the library:
# the settings record, the readable settings file, the default table, the
# cipher. Relative to this folder.
set(KESTRIX_FORMAT_SOURCES settings_record.cpp settings_defaults.cpp settings_file.cpp kx_cipher.cpp)
