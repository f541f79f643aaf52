// Base64 and the reversible cipher with which the mail and upload passwords
// are kept in the settings record. The cipher only keeps passwords from
// being readable in the executable; it is keyed by account and server.
#pragma once

#include <string>

namespace kestrix {

std::string Base64Encode(const std::string& data);
// False on characters outside the alphabet or a bad length.
bool Base64Decode(const std::string& text, std::string& data);

std::string EncipherText(const std::string& plain, const std::string& account,
                         const std::string& server);
std::string DecipherText(const std::string& cipher, const std::string& account,
                         const std::string& server);

// The stored form of a password: Base64 of the enciphered text.
std::string EncodePassword(const std::string& plain, const std::string& account,
                           const std::string& server);
// Empty when the stored text is not valid Base64.
std::string DecodePassword(const std::string& stored, const std::string& account,
                           const std::string& server);

}  // namespace kestrix
