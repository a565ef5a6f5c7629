#include "ini/IniFile.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/files.h"

namespace {

bool IsBlankOrEol(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsEol(char c) { return c == '\r' || c == '\n'; }
bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// Reads a decimal number as atol does on the 32-bit platform: leading white space, an
// optional sign, digits up to the first non-digit; saturates instead of overflowing.
int ParseLong(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 0x80000000LL) value = 0x80000000LL;
    }
    if (negative) return static_cast<int>(-value);
    return value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
}

}  // namespace

CIniFile::CIniFile() : m_nSize(0), m_bLoaded(false), m_szPath{} {}

CIniFile::~CIniFile() { Free(); }

int CIniFile::Load(const char* path) {
    Free();
    if (!path) return -1;
    std::snprintf(m_szPath, sizeof m_szPath, "%s", path);

    std::FILE* f = win::fopen(path, "rb");
    if (!f) return -1;
    long size = -1;
    if (win::fseek(f, 0, SEEK_END) == 0) size = win::ftell(f);
    if (size < 0 || size >= 0x7FFFFFFF) {
        win::fclose(f);
        return -1;
    }
    m_pText.reset(new (std::nothrow) char[size + 1]);
    m_pSearch.reset(new (std::nothrow) char[size + 1]);
    if (!m_pText || !m_pSearch || win::fseek(f, 0, SEEK_SET) != 0) {
        win::fclose(f);
        return -1;
    }
    m_nSize = static_cast<std::uint32_t>(win::fread(m_pText.get(), 1, size, f));
    m_pText[m_nSize] = 0;
    std::memcpy(m_pSearch.get(), m_pText.get(), m_nSize + 1);
    ToLowerAscii(m_pSearch.get(), m_nSize + 1);
    win::fclose(f);
    m_bLoaded = true;
    return 0;
}

void CIniFile::Free() {
    m_pText.reset();
    m_pSearch.reset();
    m_nSize = 0;
    m_bLoaded = false;
}

bool CIniFile::IsLoaded() const { return m_bLoaded; }

bool CIniFile::GetInt(const char* section, const char* key, int* out, int def) const {
    char value[100];
    if (GetRaw(section, key, value, sizeof value) == 0) {
        *out = def;
        return false;
    }
    *out = ParseLong(value);
    return true;
}

int CIniFile::GetString(const char* section, const char* key, char* buffer, std::uint32_t size,
                        const char* def) const {
    if (size == 0) return 0;
    int n = GetRaw(section, key, buffer, size);
    if (n != 0) return n;
    std::strncpy(buffer, def ? def : "", size - 1);
    buffer[size - 1] = 0;
    return static_cast<int>(std::strlen(buffer));
}

int CIniFile::GetRaw(const char* section, const char* key, char* buffer,
                     std::uint32_t size) const {
    if (!m_bLoaded || !section || !key || !buffer || size == 0) return 0;
    Span body, value;
    if (!FindSection(section, &body) || !FindKey(key, body, &value)) return 0;

    std::uint32_t count = 0;
    for (std::size_t p = value.begin; p < value.end && count < size - 1; ++p)
        buffer[count++] = m_pText[p];
    buffer[count] = 0;
    // A full buffer may end in the first half of a double-byte character: drop that byte.
    if (count > 0 && count == size - 1 && static_cast<unsigned char>(buffer[count - 1]) > 0x7F)
        buffer[--count] = 0;
    return static_cast<int>(count);
}

bool CIniFile::FindSection(const char* name, Span* body) const {
    std::size_t nameLen = std::strlen(name);
    std::unique_ptr<char[]> token(new char[nameLen + 3]);
    std::snprintf(token.get(), nameLen + 3, "[%s]", name);
    ToLowerAscii(token.get(), nameLen + 2);

    const char* hit = FindToken(token.get(), 0, m_nSize);
    if (!hit) return false;

    const char* text = m_pText.get();
    std::size_t p = static_cast<std::size_t>(hit - m_pSearch.get()) + nameLen + 2;
    while (text[p] && !IsEol(text[p])) ++p;
    while (IsEol(text[p])) ++p;
    body->begin = p;

    bool lineStart = true;
    for (; text[p]; ++p) {
        char c = text[p];
        if (c == '[' && lineStart) break;
        if (IsEol(c))
            lineStart = true;
        else if (!IsSpaceOrTab(c))
            lineStart = false;
    }
    body->end = p;
    return true;
}

bool CIniFile::FindKey(const char* key, Span region, Span* value) const {
    std::size_t keyLen = std::strlen(key);
    std::unique_ptr<char[]> token(new char[keyLen + 1]);
    std::memcpy(token.get(), key, keyLen + 1);
    ToLowerAscii(token.get(), keyLen);

    const char* text = m_pText.get();
    std::size_t begin = region.begin;
    const std::size_t end = region.end;
    for (;;) {
        const char* hit = FindToken(token.get(), begin, end);
        if (!hit) return false;
        std::size_t p = static_cast<std::size_t>(hit - m_pSearch.get()) + keyLen;
        while (p < end && IsSpaceOrTab(text[p])) ++p;
        if (p < end && text[p] == '=') {
            ++p;
            while (p < end && IsSpaceOrTab(text[p])) ++p;
            value->begin = p;
            while (p < end && text[p] != '\t' && !IsEol(text[p])) ++p;
            value->end = p;
            return value->end > value->begin;
        }
        begin = p;
    }
}

const char* CIniFile::FindToken(const char* token, std::size_t from, std::size_t to) const {
    if (!token || !*token || from >= to) return nullptr;
    const char* hit = FindWord(m_pSearch.get() + from, token);
    if (!hit || hit + std::strlen(token) > m_pSearch.get() + to) return nullptr;
    return hit;
}

const char* CIniFile::FindWord(const char* start, const char* token) const {
    std::size_t len = std::strlen(token);
    for (;;) {
        const char* hit = std::strstr(start, token);
        if (!hit) return nullptr;
        bool leftOk = hit == start || IsBlankOrEol(hit[-1]);
        char after = hit[len];
        if (leftOk && (IsBlankOrEol(after) || after == '=')) return hit;
        start = hit + len;
    }
}

void CIniFile::ToLowerAscii(char* buffer, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (buffer[i] >= 'A' && buffer[i] <= 'Z') buffer[i] += 0x20;
}
