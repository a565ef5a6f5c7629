// CIniFile: reads an INI-style text file once into memory and answers integer and string
// queries by section and key. Section and key names match regardless of the case of the
// letters A to Z; values come back exactly as written. Queries never touch the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CIniFile {
public:
    CIniFile();
    ~CIniFile();
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // Reads the whole file; 0 on success, -1 on failure.
    int Load(const char* path);
    void Free();
    bool IsLoaded() const;

    // True when the key has a value (then *out is its number, read as atol reads it);
    // otherwise *out = def and false.
    bool GetInt(const char* section, const char* key, int* out, int def) const;
    // Places the value, or def when the key has none, in buffer (at most size - 1 bytes and
    // a terminator) and returns the length placed.
    int GetString(const char* section, const char* key, char* buffer, std::uint32_t size,
                  const char* def) const;

private:
    // A region of the loaded text, as offsets valid in both buffers.
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    int GetRaw(const char* section, const char* key, char* buffer, std::uint32_t size) const;
    bool FindSection(const char* name, Span* body) const;
    bool FindKey(const char* key, Span region, Span* value) const;
    const char* FindToken(const char* token, std::size_t from, std::size_t to) const;
    const char* FindWord(const char* start, const char* token) const;
    static void ToLowerAscii(char* buffer, std::size_t length);

    std::unique_ptr<char[]> m_pText;    // the file's bytes and a zero byte
    std::unique_ptr<char[]> m_pSearch;  // the same with 'A'..'Z' folded to lower case
    std::uint32_t m_nSize;
    bool m_bLoaded;
    char m_szPath[260];
};
