#include "debuginfo/map/compact_map.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "crash/base/little_endian.h"
#include "debuginfo/map/map_cipher.h"

namespace kestrix {

namespace {

constexpr size_t kMaxInflated = size_t(256) << 20;

void PutInt(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i) & 0xff);
}

bool ReadInt(TMiniStream& s, int32_t& v) {
  uint8_t b[4];
  if (!s.ReadExact(b, 4)) return false;
  v = static_cast<int32_t>(Dword(b));
  return true;
}

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

// Inflates into the stream; false (with a reason) on damaged data.
bool Inflate(const std::string& data, TMiniStream& out, std::string& error) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    error = "cannot start inflating";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  int32_t used = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (static_cast<size_t>(used) + 65536 > kMaxInflated || !out.SetSize(used + 65536)) {
      error = "inflated map too large";
      break;
    }
    z.next_out = out.Memory() + used;
    z.avail_out = 65536;
    rc = inflate(&z, Z_NO_FLUSH);
    used += 65536 - static_cast<int32_t>(z.avail_out);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      error = "damaged payload (inflate)";
      break;
    }
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
      error = "truncated payload";
      break;
    }
  }
  inflateEnd(&z);
  out.SetSize(used);
  out.SetPosition(0);
  return rc == Z_STREAM_END;
}

std::string Tables(const TMapContents& c, bool stripped) {
  std::string out;
  PutInt(out, static_cast<uint32_t>(c.segments.size()));
  for (const auto& s : c.segments) {
    PutInt(out, s.offset);
    PutInt(out, s.length);
    if (stripped) {
      out += static_cast<char>(s.hasLines ? 1 : 0);
    } else {
      WriteCompactStr(out, s.unit);
    }
  }
  PutInt(out, static_cast<uint32_t>(c.publics.size()));
  for (size_t i = 0; i < c.publics.size(); ++i) {
    if (!stripped) WriteCompactStr(out, c.publics[i].name);
    if (i == 0) {
      PutInt(out, c.publics[0].offset);
    } else {
      WriteCompactInt(out, static_cast<int32_t>(c.publics[i].offset - c.publics[i - 1].offset));
    }
  }
  const size_t lines = stripped ? 0 : c.lines.size();
  PutInt(out, static_cast<uint32_t>(lines));
  for (size_t i = 0; i < lines; ++i) {
    if (i == 0) {
      PutInt(out, static_cast<uint32_t>(c.lines[0].line));
      PutInt(out, c.lines[0].offset);
    } else {
      WriteCompactInt(out, c.lines[i].line - c.lines[i - 1].line);
      WriteCompactInt(out, static_cast<int32_t>(c.lines[i].offset - c.lines[i - 1].offset));
    }
  }
  if (c.hasEntryPoint) PutInt(out, c.entryPoint);
  return out;
}

}  // namespace

bool ReadCompactInt(TMiniStream& s, int32_t& value) {
  int8_t b;
  if (!s.ReadExact(&b, 1)) return false;
  if (b != -128) {
    value = b;
    return true;
  }
  return ReadInt(s, value);
}

std::string ReadCompactStr(TMiniStream& s) {
  uint8_t n;
  if (!s.ReadExact(&n, 1)) return {};
  if (s.Remaining() < n) return {};
  std::string text(n, '\0');
  s.Read(&text[0], n);
  return text;
}

void WriteCompactInt(std::string& out, int32_t value) {
  if (value >= -127 && value <= 127) {
    out += static_cast<char>(static_cast<int8_t>(value));
  } else {
    out += static_cast<char>(0x80);
    PutInt(out, static_cast<uint32_t>(value));
  }
}

void WriteCompactStr(std::string& out, const std::string& text) {
  const size_t n = text.size() < 255 ? text.size() : 255;
  out += static_cast<char>(n);
  out.append(text, 0, n);
}

std::string WriteCompactMap(const TMapContents& contents, uint32_t fingerprintB, bool stripped) {
  const std::string full = Tables(contents, false);
  const uint32_t valueA = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(full.data()),
                                                      static_cast<uInt>(full.size())));
  const std::string packed = Deflate(stripped ? Tables(contents, true) : full);
  const uint32_t n = static_cast<uint32_t>(packed.size());
  std::string out(kCompactMapSignature, 14);
  PutInt(out, n);
  PutInt(out, 3);
  PutInt(out, valueA);
  PutInt(out, fingerprintB);
  PutInt(out, stripped ? kCompactMapStripped : 0);
  out += MapCipher(packed, DeriveMapPassword(n));
  return out;
}

bool ReadCompactMapHeader(const uint8_t* data, size_t size, TCompactMapHeader& h) {
  if (!data || size < 23 || std::memcmp(data, kCompactMapSignature, 14) != 0) return false;
  h.payloadLength = Dword(data + 14);
  h.version = Dword(data + 18);
  if (h.version == 2) {
    h.payloadOffset = 22;
  } else if (h.version == 3 && size >= 34) {
    h.valueA = Dword(data + 22);
    h.valueB = Dword(data + 26);
    h.flags = Dword(data + 30);
    h.payloadOffset = 34;
  } else {
    return false;
  }
  return true;
}

std::string CompactMapFingerprint(const uint8_t* data, size_t size) {
  TCompactMapHeader h;
  if (!ReadCompactMapHeader(data, size, h)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "$%08x, $%08x, $%08x", static_cast<unsigned>(size), h.valueA, h.valueB);
  return text;
}

TCompactMapResult LoadCompactMap(const uint8_t* data, size_t size, TMapFile& map, std::string& error) {
  TCompactMapHeader h;
  if (!ReadCompactMapHeader(data, size, h)) return TCompactMapResult::kNotAMap;
  if (h.payloadLength > size - h.payloadOffset) {
    error = "compact map: payload runs past the data";
    return TCompactMapResult::kInvalid;
  }
  const std::string packed(reinterpret_cast<const char*>(data + h.payloadOffset), h.payloadLength);
  TMiniStream s;
  if (!Inflate(MapCipher(packed, DeriveMapPassword(h.payloadLength)), s, error) || s.Size() == 0) {
    if (error.empty()) error = "empty payload";
    error = "compact map: " + error;
    return TCompactMapResult::kInvalid;
  }
  const bool stripped = (h.flags & kCompactMapStripped) != 0;
  if (!stripped) map.MinDebugInfo.clear();
  auto fail = [&](const char* what) {
    error = std::string("compact map: ") + what;
    return TCompactMapResult::kInvalid;
  };
  int32_t count;
  // Segments.
  if (!ReadInt(s, count) || count < 0 || count > s.Remaining() / 9) return fail("bad segment table");
  map.ReserveSegments(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    int32_t offset, length;
    if (!ReadInt(s, offset) || !ReadInt(s, length)) return fail("segment table truncated");
    TMfSegment seg;
    seg.IsValid = 1;
    seg.IsCode = 1;
    seg.StartAddr = map.BaseOfCode + static_cast<uint32_t>(offset);
    seg.Length = static_cast<uint32_t>(length);
    if (stripped) {
      uint8_t hasLines;
      if (!s.ReadExact(&hasLines, 1)) return fail("segment table truncated");
      seg.HasLines = hasLines;
      seg.UnitName = "segment%" + std::to_string(i);
    } else {
      if (s.Remaining() < 1) return fail("segment table truncated");
      seg.UnitName = ReadCompactStr(s);
    }
    map.AppendSegment(std::move(seg));
  }
  // Publics.
  if (!ReadInt(s, count) || count < 0 || count > s.Remaining()) return fail("bad public table");
  map.ReservePublics(static_cast<size_t>(count));
  uint32_t address = 0;
  for (int32_t i = 0; i < count; ++i) {
    TMfPublic pub;
    pub.IsValid = 1;
    pub.IsCode = 1;
    if (stripped) {
      pub.Name = "public%" + std::to_string(i);
    } else {
      if (s.Remaining() < 1) return fail("public table truncated");
      pub.Name = ReadCompactStr(s);
    }
    int32_t value;
    if (i == 0 ? !ReadInt(s, value) : !ReadCompactInt(s, value)) return fail("public table truncated");
    address = i == 0 ? map.BaseOfCode + static_cast<uint32_t>(value) : address + static_cast<uint32_t>(value);
    pub.Address = address;
    map.AppendPublic(std::move(pub));
  }
  // Lines.
  if (!ReadInt(s, count) || count < 0 || count > s.Remaining()) return fail("bad line table");
  map.ReserveLines(static_cast<size_t>(count));
  int32_t line = 0;
  address = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t dl, da;
    if (i == 0) {
      if (!ReadInt(s, dl) || !ReadInt(s, da)) return fail("line table truncated");
      line = dl;
      address = map.BaseOfCode + static_cast<uint32_t>(da);
    } else {
      if (!ReadCompactInt(s, dl) || !ReadCompactInt(s, da)) return fail("line table truncated");
      line = static_cast<int32_t>(static_cast<uint32_t>(line) + static_cast<uint32_t>(dl));
      address += static_cast<uint32_t>(da);
    }
    map.AppendLineEntry(line, address);
  }
  if (s.Remaining() == 4) {
    int32_t entry;
    ReadInt(s, entry);
    map.EntryPoint = map.BaseOfCode + static_cast<uint32_t>(entry);
  }
  return TCompactMapResult::kLoaded;
}

}  // namespace kestrix
