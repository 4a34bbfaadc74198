#include "platform/cf/Preferences.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/TextEncoding.h"

namespace {

// One value of the file. Arrays, objects and null are kept as text only: the
// store hands them out as nothing and writes them back unchanged.
struct Value {
    enum Kind { Boolean, Integer, Real, String, Other } kind = Other;
    bool boolean = false;
    SInt64 integer = 0;
    double real = 0;
    std::u16string string;
    std::string raw;  // the text read from the file, or empty for a value set here
};

struct Entry {
    std::u16string key;
    Value value;
};
using Entries = std::vector<Entry>;

// A strict JSON reader (RFC 8259) that tells integers from reals by how they are
// written and keeps each top-level value's text.
class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool readObject(Entries& out) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        skipSpace();
        if (!take('{')) return false;
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                Entry e;
                if (!readString(e.key)) return false;
                skipSpace();
                if (!take(':')) return false;
                skipSpace();
                size_t start = pos_;
                if (!readValue(e.value, 0)) return false;
                e.value.raw = std::string(s_.substr(start, pos_ - start));
                set(out, std::move(e));
                skipSpace();
            } while (take(','));
            if (!take('}')) return false;
        }
        skipSpace();
        return pos_ == s_.size();
    }

    static void set(Entries& entries, Entry e) {
        for (Entry& old : entries)
            if (old.key == e.key) {
                old.value = std::move(e.value);
                return;
            }
        entries.push_back(std::move(e));
    }

private:
    static constexpr int kMaxDepth = 256;

    bool take(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool takeWord(std::string_view w) {
        if (s_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }
    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool digits() {
        size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    bool readValue(Value& v, int depth) {
        if (depth > kMaxDepth || pos_ >= s_.size()) return false;
        char c = s_[pos_];
        if (c == '"') {
            v.kind = Value::String;
            return readString(v.string);
        }
        if (c == '{' || c == '[') return readContainer(depth);
        if (takeWord("true")) {
            v.kind = Value::Boolean, v.boolean = true;
            return true;
        }
        if (takeWord("false")) {
            v.kind = Value::Boolean, v.boolean = false;
            return true;
        }
        if (takeWord("null")) {
            v.kind = Value::Other;
            return true;
        }
        return readNumber(v);
    }

    bool readContainer(int depth) {
        char close = s_[pos_] == '{' ? '}' : ']';
        ++pos_;
        skipSpace();
        if (take(close)) return true;
        do {
            skipSpace();
            if (close == '}') {
                std::u16string key;
                if (!readString(key)) return false;
                skipSpace();
                if (!take(':')) return false;
                skipSpace();
            }
            Value inner;
            if (!readValue(inner, depth + 1)) return false;
            skipSpace();
        } while (take(','));
        return take(close);
    }

    bool readNumber(Value& v) {
        size_t start = pos_;
        take('-');
        if (!take('0') && !digits()) return false;
        bool real = false;
        if (take('.')) {
            real = true;
            if (!digits()) return false;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            real = true;
            ++pos_;
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        // A leading zero must stand alone: "01" is not JSON.
        std::string_view text = s_.substr(start, pos_ - start);
        std::string_view mantissa = text.substr(text[0] == '-' ? 1 : 0);
        if (mantissa.size() > 1 && mantissa[0] == '0' && mantissa[1] >= '0' && mantissa[1] <= '9')
            return false;
        const char* b = text.data();
        const char* e = b + text.size();
        if (!real) {
            auto r = std::from_chars(b, e, v.integer);
            if (r.ec == std::errc() && r.ptr == e) {
                v.kind = Value::Integer;
                return true;
            }
        }
        auto r = std::from_chars(b, e, v.real);
        // Too large for a double: a valid file, but not a value the store can give.
        v.kind = (r.ec == std::errc() && r.ptr == e) ? Value::Real : Value::Other;
        return true;
    }

    int hex4() {
        if (pos_ + 4 > s_.size()) return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s_[pos_++];
            int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        return v;
    }

    bool readString(std::u16string& out) {
        out.clear();
        if (!take('"')) return false;
        size_t runStart = pos_;
        auto flush = [&](size_t end) {
            std::u16string run;
            if (!DecodeUtf8Strict(s_.substr(runStart, end - runStart), run)) return false;
            out += run;
            return true;
        };
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                if (!flush(pos_)) return false;
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                ++pos_;
                continue;
            }
            if (!flush(pos_)) return false;
            ++pos_;
            if (pos_ >= s_.size()) return false;
            char esc = s_[pos_++];
            switch (esc) {
                case '"':
                    out += u'"';
                    break;
                case '\\':
                    out += u'\\';
                    break;
                case '/':
                    out += u'/';
                    break;
                case 'b':
                    out += u'\b';
                    break;
                case 'f':
                    out += u'\f';
                    break;
                case 'n':
                    out += u'\n';
                    break;
                case 'r':
                    out += u'\r';
                    break;
                case 't':
                    out += u'\t';
                    break;
                case 'u': {
                    int u = hex4();
                    if (u < 0) return false;
                    out += char16_t(u);
                    break;
                }
                default:
                    return false;
            }
            runStart = pos_;
        }
        return false;
    }

    std::string_view s_;
    size_t pos_ = 0;
};

std::string quoted(const std::u16string& s) {
    std::string out = "\"";
    static const char hex[] = "0123456789abcdef";
    auto escape = [&](char16_t u) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(u >> shift) & 15];
    };
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t u = s[i];
        if (u == '"') {
            out += "\\\"";
        } else if (u == '\\') {
            out += "\\\\";
        } else if (u == '\n') {
            out += "\\n";
        } else if (u == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            escape(u);
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
                   s[i + 1] <= 0xDFFF) {
            out += Utf8FromUtf16(s.substr(i, 2));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            escape(u);  // an unpaired surrogate has no UTF-8 form
        } else {
            out += Utf8FromUtf16(std::u16string(1, u));
        }
    }
    return out + "\"";
}

std::string textOf(const Value& v) {
    if (!v.raw.empty()) return v.raw;
    switch (v.kind) {
        case Value::Boolean:
            return v.boolean ? "true" : "false";
        case Value::Integer:
            return std::to_string(v.integer);
        case Value::Real: {
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, v.real);
            std::string t(buf, r.ptr);
            // Written so that it reads back as a real: 2.0, not 2.
            if (t.find_first_of(".e") == std::string::npos) t += ".0";
            return t;
        }
        case Value::String:
            return quoted(v.string);
        case Value::Other:
            break;
    }
    return "null";
}

std::string serialise(const Entries& entries) {
    std::string out = "{";
    for (size_t i = 0; i < entries.size(); ++i) {
        out += i ? ",\n    " : "\n    ";
        out += quoted(entries[i].key) + ": " + textOf(entries[i].value);
    }
    return out + (entries.empty() ? "}\n" : "\n}\n");
}

enum class ReadResult { Read, Missing, Unparsable, Unreadable };

ReadResult readFile(const QString& path, Entries& out) {
    out.clear();
    QFile f(path);
    if (!f.exists()) return ReadResult::Missing;
    if (!f.open(QIODevice::ReadOnly)) return ReadResult::Unreadable;
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) return ReadResult::Unreadable;
    Reader reader(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!reader.readObject(out)) {
        out.clear();
        return ReadResult::Unparsable;
    }
    return ReadResult::Read;
}

// A file that cannot be parsed is kept for the user under a new name beside it.
bool moveAside(const QString& path) {
    QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 0; n < 100; ++n) {
        QString target = path + QStringLiteral(".unreadable-") + stamp +
                         (n ? QStringLiteral("-%1").arg(n) : QString());
        if (QFileInfo::exists(target)) continue;
        return QFile::rename(path, target);  // never replaces an existing file
    }
    return false;
}

// The store of the current application: what was last read, and what was set
// since. Tied to the file it was read from, so a changed location starts afresh.
struct Store {
    QString path;
    bool loaded = false;
    Entries disk;
    std::vector<std::pair<std::u16string, std::optional<Value>>> pending;

    void ensure() {
        QString now = PreferencesFilePath();
        if (loaded && now == path) return;
        path = now;
        pending.clear();
        readFile(path, disk);
        loaded = true;
    }

    const Value* find(const std::u16string& key) const {
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (it->first == key) return it->second ? &*it->second : nullptr;
        for (const Entry& e : disk)
            if (e.key == key) return &e.value;
        return nullptr;
    }
};

Store& store() {
    static Store s;
    return s;
}

bool isCurrentApplication(CFStringRef applicationID) {
    return applicationID && CFEqual(applicationID, kCFPreferencesCurrentApplication);
}

std::u16string keyOf(CFStringRef key) {
    std::u16string k(size_t(CFStringGetLength(key)), u'\0');
    CFStringGetCharacters(key, CFRangeMake(0, CFIndex(k.size())),
                          reinterpret_cast<UniChar*>(k.data()));
    return k;
}

}  // namespace

QString PreferencesFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/brackwater/preferences.json");
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
    if (!key || !isCurrentApplication(applicationID)) return nullptr;
    Store& s = store();
    s.ensure();
    const Value* v = s.find(keyOf(key));
    if (!v) return nullptr;
    switch (v->kind) {
        case Value::Boolean:
            return v->boolean ? kCFBooleanTrue : kCFBooleanFalse;
        case Value::Integer:
            return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v->integer);
        case Value::Real:
            return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v->real);
        case Value::String:
            return CFStringCreateWithCharacters(nullptr,
                                                reinterpret_cast<const UniChar*>(v->string.data()),
                                                CFIndex(v->string.size()));
        case Value::Other:
            break;
    }
    return nullptr;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
    if (!key || !isCurrentApplication(applicationID)) return;
    std::optional<Value> v;
    if (value) {
        Value nv;
        CFTypeID type = CFGetTypeID(value);
        if (type == CFBooleanGetTypeID()) {
            nv.kind = Value::Boolean;
            nv.boolean = CFBooleanGetValue(static_cast<CFBooleanRef>(value));
        } else if (type == CFNumberGetTypeID()) {
            auto n = static_cast<CFNumberRef>(value);
            if (CFNumberIsFloatType(n)) {
                nv.kind = Value::Real;
                CFNumberGetValue(n, kCFNumberFloat64Type, &nv.real);
                if (!std::isfinite(nv.real)) return;  // JSON has no form for it
            } else {
                nv.kind = Value::Integer;
                CFNumberGetValue(n, kCFNumberSInt64Type, &nv.integer);
            }
        } else if (type == CFStringGetTypeID()) {
            nv.kind = Value::String;
            nv.string = keyOf(static_cast<CFStringRef>(value));
        } else {
            return;
        }
        v = std::move(nv);
    }
    Store& s = store();
    s.ensure();
    s.pending.emplace_back(keyOf(key), std::move(v));
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) {
    if (!isCurrentApplication(applicationID)) return false;
    Store& s = store();
    s.ensure();
    Entries disk;
    ReadResult read = readFile(s.path, disk);
    if (read == ReadResult::Unreadable) return false;  // keep what we had; write nothing over it
    s.disk = std::move(disk);
    if (s.pending.empty()) return true;

    Entries merged = s.disk;
    for (auto& [key, value] : s.pending) {
        if (value) {
            Reader::set(merged, Entry{key, *value});
        } else {
            std::erase_if(merged, [&](const Entry& e) { return e.key == key; });
        }
    }
    if (!QDir().mkpath(QFileInfo(s.path).absolutePath())) return false;
    if (read == ReadResult::Unparsable && !moveAside(s.path)) return false;
    QSaveFile out(s.path);
    std::string text = serialise(merged);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), qint64(text.size())) != qint64(text.size()) || !out.commit())
        return false;
    s.disk = std::move(merged);
    s.pending.clear();
    return true;
}
