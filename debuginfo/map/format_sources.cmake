# The format code shared by the build-step tools and the library: the map's
# tables, names, the compact map and its cipher, PE resources. Relative to
# this folder.
set(KESTRIX_MAP_SOURCES map_file.cpp mini_stream.cpp map_cipher.cpp compact_map.cpp
                        pe_resources.cpp)
