"""An independent reader of minidump files for the tests, written from the
format's documentation (MINIDUMP_HEADER, MINIDUMP_DIRECTORY and the thread,
module, memory, exception, system info and comment streams of a 32-bit x86
process). It shares nothing with the library's own reader."""
import struct

STREAM_NAMES = {
    3: "ThreadListStream", 4: "ModuleListStream", 5: "MemoryListStream", 6: "ExceptionStream",
    7: "SystemInfoStream", 8: "ThreadExListStream", 9: "Memory64ListStream", 10: "CommentStreamA",
    11: "CommentStreamW", 12: "HandleDataStream", 14: "UnloadedModuleListStream", 15: "MiscInfoStream",
    16: "MemoryInfoListStream", 17: "ThreadInfoListStream",
}

# CONTEXT (i386): name -> offset of the 32-bit value.
CONTEXT_X86 = {
    "edi": 156, "esi": 160, "ebx": 164, "edx": 168, "ecx": 172, "eax": 176,
    "ebp": 180, "eip": 184, "cs": 188, "eflags": 192, "esp": 196, "ss": 200,
}


class MinidumpError(Exception):
    pass


class Minidump:
    def __init__(self, data):
        self.data = data
        if len(data) < 32:
            raise MinidumpError("shorter than a header")
        signature, version, count, directory = struct.unpack_from("<4sIII", data, 0)
        if signature != b"MDMP" or version & 0xFFFF != 0xA793:
            raise MinidumpError("no minidump signature")
        self.time_stamp = struct.unpack_from("<I", data, 20)[0]
        self.streams = []  # (type, size, rva) in directory order
        for i in range(count):
            self.streams.append(struct.unpack_from("<III", data, directory + 12 * i))
        for kind, size, rva in self.streams:
            if rva + size > len(data):
                raise MinidumpError("stream %d beyond the end" % kind)

    @classmethod
    def open(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())

    def stream(self, kind):
        for k, size, rva in self.streams:
            if k == kind:
                return self.data[rva:rva + size]
        return None

    def stream_names(self):
        return [STREAM_NAMES.get(k, str(k)) for k, _, _ in self.streams if k]

    def context(self, size, rva):
        raw = self.data[rva:rva + size]
        return {name: struct.unpack_from("<I", raw, off)[0] for name, off in CONTEXT_X86.items()}

    def threads(self):
        """[{id, suspend, priority, teb, stack: (start, size), context}]"""
        s = self.stream(3)
        (n,) = struct.unpack_from("<I", s, 0)
        out = []
        for i in range(n):
            tid, suspend, pclass, prio, teb, sstart, ssize, srva, csize, crva = struct.unpack_from(
                "<IIIIQQIIII", s, 4 + 48 * i)
            out.append({"id": tid, "suspend": suspend, "priority": prio, "teb": teb, "stack": (sstart, ssize, srva),
                        "context": self.context(csize, crva) if csize else None})
        return out

    def name_at(self, rva):
        (length,) = struct.unpack_from("<I", self.data, rva)
        return self.data[rva + 4:rva + 4 + length].decode("utf-16-le")

    def modules(self):
        """[{base, size, name, version}] (version: (ms, ls) or None)"""
        s = self.stream(4)
        (n,) = struct.unpack_from("<I", s, 0)
        out = []
        for i in range(n):
            off = 4 + 108 * i
            base, size, checksum, stamp, name_rva = struct.unpack_from("<QIIII", s, off)
            signature, _, ms, ls = struct.unpack_from("<IIII", s, off + 24)
            out.append({"base": base, "size": size, "name": self.name_at(name_rva),
                        "version": (ms, ls) if signature == 0xFEEF04BD else None})
        return out

    def exception(self):
        """{thread, code, flags, address, parameters, context}"""
        s = self.stream(6)
        if s is None:
            return None
        tid, _, code, flags, _, address, nparams, _ = struct.unpack_from("<IIIIQQII", s, 0)
        params = list(struct.unpack_from("<15Q", s, 40))[:min(nparams, 15)]
        csize, crva = struct.unpack_from("<II", s, 160)
        return {"thread": tid, "code": code, "flags": flags, "address": address, "parameters": params,
                "context": self.context(csize, crva) if csize else None}

    def comment(self):
        s = self.stream(10)
        return None if s is None else s.split(b"\0", 1)[0].decode("latin-1")

    def processor_architecture(self):
        s = self.stream(7)
        return None if s is None else struct.unpack_from("<H", s, 0)[0]

    def memory(self):
        """[(start, size)] of the memory list and the 64-bit memory list."""
        out = []
        s = self.stream(5)
        if s is not None:
            (n,) = struct.unpack_from("<I", s, 0)
            for i in range(n):
                start, size, _ = struct.unpack_from("<QII", s, 4 + 16 * i)
                out.append((start, size))
        s = self.stream(9)
        if s is not None:
            n, _ = struct.unpack_from("<QQ", s, 0)
            for i in range(n):
                out.append(struct.unpack_from("<QQ", s, 16 + 16 * i))
        return out

    def read(self, address, size):
        """Bytes at address from the memory lists, or None."""
        s = self.stream(5)
        if s is not None:
            (n,) = struct.unpack_from("<I", s, 0)
            for i in range(n):
                start, length, rva = struct.unpack_from("<QII", s, 4 + 16 * i)
                if start <= address and address + size <= start + length:
                    return self.data[rva + address - start:rva + address - start + size]
        s = self.stream(9)
        if s is not None:
            n, rva = struct.unpack_from("<QQ", s, 0)
            for i in range(n):
                start, length = struct.unpack_from("<QQ", s, 16 + 16 * i)
                if start <= address and address + size <= start + length:
                    return self.data[rva + address - start:rva + address - start + size]
                rva += length
        return None
