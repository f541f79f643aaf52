// The string cipher of the compact map's payload and the password that
// keys it. Writer (build step) and reader (library) share this module.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// A symmetric stream cipher keyed by a text: enciphering twice with the
// same key gives the text back. An empty key leaves the text as it is.
std::string MapCipher(const std::string& text, const std::string& key);

// The payload password for a payload of `length` bytes; built at run time.
std::string DeriveMapPassword(uint32_t length);

}  // namespace kestrix
