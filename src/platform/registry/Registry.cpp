#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringList>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// ---- error reporting -------------------------------------------------------------------------

std::mutex reporterMutex;
TRegistryErrorReporter reporter;

void Report(const QString &message)
{
    TRegistryErrorReporter current;
    {
        std::lock_guard guard(reporterMutex);
        current = reporter;
    }
    if (current)
        current(message);
    else
        qWarning("%s", qPrintable(message));
}

// ---- the tree of one root --------------------------------------------------------------------

struct RegValue
{
    QString Name;
    TRegDataType Type = TRegDataType::rdUnknown;
    std::int32_t Integer = 0;
    QString Text;
};

struct RegKey
{
    QString Path; // with the case it was created with
    std::vector<RegValue> Values;

    RegValue *Find(const QString &name)
    {
        for (auto &value : Values)
            if (value.Name.compare(name, Qt::CaseInsensitive) == 0)
                return &value;
        return nullptr;
    }
};

// Keys by their lower-case path, so that a key's children follow it in the map's order.
using RegTree = std::map<QString, RegKey>;

QString Normalize(const QString &path)
{
    return path.split(u'\\', Qt::SkipEmptyParts).join(u'\\');
}

QString Fold(const QString &path)
{
    return path.toLower();
}

RegTree EmptyTree()
{
    RegTree tree;
    tree.emplace(QString(), RegKey{});
    return tree;
}

// Creates key and its missing parents; keeps the case of parents that exist already.
RegKey &EnsureKey(RegTree &tree, const QString &path)
{
    const QStringList parts = path.split(u'\\', Qt::SkipEmptyParts);
    RegKey *key = &tree[QString()];
    QString sofar;
    for (const QString &part : parts) {
        sofar = sofar.isEmpty() ? part : sofar + u'\\' + part;
        auto it = tree.find(Fold(sofar));
        if (it == tree.end())
            it = tree.emplace(Fold(sofar), RegKey{sofar, {}}).first;
        sofar = it->second.Path; // continue with the stored spelling
        key = &it->second;
    }
    return *key;
}

// ---- the file format: a section per key, a line per value ------------------------------------
//
//   TIDEWELL REGISTRY 1
//   [Software\Kestrom Software GmbH\Tidewell]
//   "Path"="/opt/tidewell/bin/tidewell"
//   "Count"=dword:00000005
//
// Names and texts escape backslash, quote, CR, LF and TAB.

const QString FileMagic = QStringLiteral("TIDEWELL REGISTRY 1");

QString Escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'"': out += QLatin1String("\\\""); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default: out += c;
        }
    }
    return out;
}

// Reads a quoted, escaped string starting at pos (on the opening quote); pos ends after the
// closing quote. False on a malformed string.
bool ReadQuoted(const QString &line, qsizetype &pos, QString &out)
{
    if (pos >= line.size() || line[pos] != u'"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line[pos];
        if (c == u'"') {
            ++pos;
            return true;
        }
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return false;
        switch (line[pos].unicode()) {
        case u'\\': out += u'\\'; break;
        case u'"': out += u'"'; break;
        case u'r': out += u'\r'; break;
        case u'n': out += u'\n'; break;
        case u't': out += u'\t'; break;
        default: return false;
        }
    }
    return false;
}

QByteArray Serialize(const RegTree &tree)
{
    QString text = FileMagic + u'\n';
    for (const auto &[folded, key] : tree) {
        if (folded.isEmpty() && key.Values.empty())
            continue;
        text += u'[' + Escape(key.Path) + QLatin1String("]\n");
        for (const RegValue &value : key.Values) {
            text += u'"' + Escape(value.Name) + QLatin1String("\"=");
            if (value.Type == TRegDataType::rdInteger)
                text += QStringLiteral("dword:%1")
                            .arg(static_cast<std::uint32_t>(value.Integer), 8, 16, QChar(u'0'));
            else
                text += u'"' + Escape(value.Text) + u'"';
            text += u'\n';
        }
    }
    return text.toUtf8();
}

// Parses a whole file; on failure returns false and says where.
bool Parse(const QByteArray &bytes, RegTree &tree, QString &error)
{
    tree = EmptyTree();
    const QString text = QString::fromUtf8(bytes);
    const QStringList lines = text.split(u'\n');
    RegKey *current = nullptr;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r'))
            line.chop(1);
        const auto fail = [&](const char *what) {
            error = QStringLiteral("Zeile %1: %2").arg(n + 1).arg(QString::fromUtf8(what));
            return false;
        };
        if (n == 0) {
            if (line != FileMagic)
                return fail("keine Registry-Datei");
            continue;
        }
        if (line.isEmpty())
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return fail("Schlüssel ohne schließende Klammer");
            // Keys are written escaped; unescape by reading them as a quoted string.
            QString quoted = u'"' + line.mid(1, line.size() - 2) + u'"';
            qsizetype pos = 0;
            QString path;
            if (!ReadQuoted(quoted, pos, path) || pos != quoted.size())
                return fail("ungültiger Schlüssel");
            current = &EnsureKey(tree, Normalize(path));
            continue;
        }
        if (!current)
            return fail("Wert außerhalb eines Schlüssels");
        qsizetype pos = 0;
        RegValue value;
        if (!ReadQuoted(line, pos, value.Name) || pos >= line.size() || line[pos] != u'=')
            return fail("ungültiger Wertname");
        ++pos;
        if (line.mid(pos).startsWith(QLatin1String("dword:"))) {
            bool ok = false;
            const auto number = line.mid(pos + 6).toUInt(&ok, 16);
            if (!ok || line.size() - pos - 6 != 8)
                return fail("ungültige Zahl");
            value.Type = TRegDataType::rdInteger;
            value.Integer = static_cast<std::int32_t>(number);
        } else {
            if (!ReadQuoted(line, pos, value.Text) || pos != line.size())
                return fail("ungültiger Text");
            value.Type = TRegDataType::rdString;
        }
        if (RegValue *existing = current->Find(value.Name))
            *existing = std::move(value);
        else
            current->Values.push_back(std::move(value));
    }
    return true;
}

// ---- one root's file, shared by every accessor of the process ---------------------------------

struct FileIdentity
{
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};

    bool operator==(const FileIdentity &o) const
    {
        return Exists == o.Exists && Device == o.Device && Inode == o.Inode && Size == o.Size &&
               Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec;
    }
};

FileIdentity Identify(const QString &path)
{
    FileIdentity id;
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        id.Exists = true;
        id.Device = st.st_dev;
        id.Inode = st.st_ino;
        id.Size = st.st_size;
        id.Modified = st.st_mtim;
    }
    return id;
}

// An exclusive advisory lock on a file beside the root's file, held for one change.
class FileLock
{
public:
    explicit FileLock(const QString &path)
    {
        m_Fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_Fd >= 0 && ::flock(m_Fd, LOCK_EX) != 0) {
            ::close(m_Fd);
            m_Fd = -1;
        }
    }
    ~FileLock()
    {
        if (m_Fd >= 0)
            ::close(m_Fd); // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool Locked() const { return m_Fd >= 0; }

private:
    int m_Fd = -1;
};

class RootStore
{
public:
    explicit RootStore(QString path) : m_Path(std::move(path)), m_Tree(EmptyTree()) {}

    // Runs reader on the current tree; false when the file is corrupt.
    template <class F> bool Read(F &&reader)
    {
        QString report;
        bool ok = false;
        {
            std::lock_guard guard(m_Mutex);
            report = Refresh();
            if (!m_Corrupt) {
                reader(static_cast<const RegTree &>(m_Tree));
                ok = true;
            }
        }
        // Reported outside the lock: the reporter may well use the registry itself.
        if (!report.isEmpty())
            Report(report);
        return ok;
    }

    // Applies change to the newest state of the file and replaces the file. change returns false
    // to abandon the change (nothing is written). False when nothing was written.
    template <class F> bool Change(F &&change)
    {
        QString report;
        const bool ok = ChangeLocked(change, report);
        if (!report.isEmpty())
            Report(report);
        return ok;
    }

private:
    template <class F> bool ChangeLocked(F &&change, QString &report)
    {
        std::lock_guard guard(m_Mutex);
        const QString directory = QFileInfo(m_Path).absolutePath();
        if (!QDir().mkpath(directory)) {
            report = QStringLiteral("Der Ordner der Registry %1 kann nicht angelegt werden.")
                         .arg(directory);
            return false;
        }
        FileLock lock(m_Path + QStringLiteral(".lock"));
        if (!lock.Locked()) {
            report =
                QStringLiteral("Die Registry-Datei %1 kann nicht gesperrt werden.").arg(m_Path);
            return false;
        }
        report = Refresh();
        if (m_Corrupt)
            return false;
        RegTree next = m_Tree;
        if (!change(next))
            return false;
        QSaveFile file(m_Path);
        file.setDirectWriteFallback(false);
        if (!file.open(QIODevice::WriteOnly) || file.write(Serialize(next)) < 0 || !file.commit()) {
            report = QStringLiteral("Die Registry-Datei %1 kann nicht geschrieben werden (%2).")
                         .arg(m_Path, file.errorString());
            return false;
        }
        m_Tree = std::move(next);
        m_Identity = Identify(m_Path);
        return true;
    }

    // Re-reads the file when it changed since the last look; returns what to report.
    QString Refresh()
    {
        const FileIdentity now = Identify(m_Path);
        if (m_Loaded && now == m_Identity)
            return {};
        m_Loaded = true;
        m_Identity = now;
        m_Corrupt = false;
        if (!now.Exists) {
            m_Tree = EmptyTree();
            return {};
        }
        QFile file(m_Path);
        QString error;
        if (!file.open(QIODevice::ReadOnly)) {
            error = file.errorString();
        } else if (Parse(file.readAll(), m_Tree, error)) {
            return {};
        }
        // Keep the file as it is for the user to inspect; never write over it.
        m_Corrupt = true;
        m_Tree = EmptyTree();
        return QStringLiteral("Die Registry-Datei %1 ist unlesbar und bleibt unverändert (%2).")
            .arg(m_Path, error);
    }

    std::mutex m_Mutex;
    QString m_Path;
    RegTree m_Tree;
    FileIdentity m_Identity;
    bool m_Loaded = false;
    bool m_Corrupt = false;
};

QString RootFileName(HKEY root)
{
    switch (root) {
    case HKEY_LOCAL_MACHINE: return QStringLiteral("HKEY_LOCAL_MACHINE.registry");
    case HKEY_CURRENT_USER: return QStringLiteral("HKEY_CURRENT_USER.registry");
    case HKEY_CLASSES_ROOT: return QStringLiteral("HKEY_CLASSES_ROOT.registry");
    }
    return QStringLiteral("HKEY_UNKNOWN.registry");
}

RootStore &Store(HKEY root)
{
    static std::mutex mutex;
    static std::map<QString, std::unique_ptr<RootStore>> stores;
    const QString path = QDir(RegistryDirectory()).filePath(RootFileName(root));
    std::lock_guard guard(mutex);
    auto &store = stores[path];
    if (!store)
        store = std::make_unique<RootStore>(path);
    return *store;
}

const RegValue *FindValue(const RegTree &tree, const QString &keyPath, const QString &name)
{
    auto it = tree.find(Fold(keyPath));
    if (it == tree.end())
        return nullptr;
    return const_cast<RegKey &>(it->second).Find(name);
}

} // namespace

QString NormalizeRegistryPath(const QString &path)
{
    return Normalize(path);
}

void SetRegistryErrorReporter(TRegistryErrorReporter newReporter)
{
    std::lock_guard guard(reporterMutex);
    reporter = std::move(newReporter);
}

QString RegistryDirectory()
{
    const QString explicitDir = qEnvironmentVariable("TIDEWELL_REGISTRY_DIR");
    if (!explicitDir.isEmpty())
        return explicitDir;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/tidewell");
}

TRegistry::TRegistry(HKEY root) : m_Root(root) {}

bool TRegistry::OpenKey(const QString &key, bool canCreate)
{
    const QString path = Normalize(key);
    bool exists = false;
    Store(m_Root).Read([&](const RegTree &tree) { exists = tree.count(Fold(path)) > 0; });
    if (!exists && canCreate)
        exists = CreateKey(path);
    if (!exists)
        return false;
    m_CurrentPath = path;
    m_HasKey = true;
    return true;
}

void TRegistry::CloseKey()
{
    m_CurrentPath.clear();
    m_HasKey = false;
}

bool TRegistry::KeyExists(const QString &key) const
{
    bool exists = false;
    Store(m_Root).Read([&](const RegTree &tree) { exists = tree.count(Fold(Normalize(key))) > 0; });
    return exists;
}

bool TRegistry::CreateKey(const QString &key)
{
    const QString path = Normalize(key);
    return Store(m_Root).Change([&](RegTree &tree) {
        if (tree.count(Fold(path)))
            return false; // nothing to write
        EnsureKey(tree, path);
        return true;
    }) || KeyExists(path);
}

bool TRegistry::DeleteKey(const QString &key)
{
    const QString folded = Fold(Normalize(key));
    if (folded.isEmpty())
        return false; // the root itself stays
    return Store(m_Root).Change([&](RegTree &tree) {
        auto it = tree.find(folded);
        if (it == tree.end())
            return false;
        const QString prefix = folded + u'\\';
        it = tree.erase(it);
        while (it != tree.end() && it->first.startsWith(prefix))
            it = tree.erase(it);
        return true;
    });
}

QStringList TRegistry::GetKeyNames() const
{
    QStringList names;
    if (!HasCurrentKey())
        return names;
    const QString folded = Fold(m_CurrentPath);
    Store(m_Root).Read([&](const RegTree &tree) {
        const QString prefix = folded.isEmpty() ? QString() : folded + u'\\';
        for (auto it = tree.lower_bound(prefix); it != tree.end(); ++it) {
            if (!it->first.startsWith(prefix))
                break;
            const QString rest = it->first.mid(prefix.size());
            if (!rest.isEmpty() && !rest.contains(u'\\'))
                names << it->second.Path.section(u'\\', -1);
        }
    });
    return names;
}

QStringList TRegistry::GetValueNames() const
{
    QStringList names;
    if (!HasCurrentKey())
        return names;
    Store(m_Root).Read([&](const RegTree &tree) {
        auto it = tree.find(Fold(m_CurrentPath));
        if (it != tree.end())
            for (const RegValue &value : it->second.Values)
                names << value.Name;
    });
    return names;
}

bool TRegistry::ValueExists(const QString &name) const
{
    return GetDataType(name) != TRegDataType::rdUnknown;
}

TRegDataType TRegistry::GetDataType(const QString &name) const
{
    TRegDataType type = TRegDataType::rdUnknown;
    if (HasCurrentKey())
        Store(m_Root).Read([&](const RegTree &tree) {
            if (const RegValue *value = FindValue(tree, m_CurrentPath, name))
                type = value->Type;
        });
    return type;
}

bool TRegistry::DeleteValue(const QString &name)
{
    if (!HasCurrentKey())
        return false;
    return Store(m_Root).Change([&](RegTree &tree) {
        auto it = tree.find(Fold(m_CurrentPath));
        if (it == tree.end())
            return false;
        auto &values = it->second.Values;
        for (auto v = values.begin(); v != values.end(); ++v)
            if (v->Name.compare(name, Qt::CaseInsensitive) == 0) {
                values.erase(v);
                return true;
            }
        return false;
    });
}

std::optional<std::int32_t> TRegistry::ReadInteger(const QString &name) const
{
    std::optional<std::int32_t> result;
    if (HasCurrentKey())
        Store(m_Root).Read([&](const RegTree &tree) {
            const RegValue *value = FindValue(tree, m_CurrentPath, name);
            if (value && value->Type == TRegDataType::rdInteger)
                result = value->Integer;
        });
    return result;
}

std::optional<QString> TRegistry::ReadString(const QString &name) const
{
    std::optional<QString> result;
    if (HasCurrentKey())
        Store(m_Root).Read([&](const RegTree &tree) {
            const RegValue *value = FindValue(tree, m_CurrentPath, name);
            if (value && value->Type == TRegDataType::rdString)
                result = value->Text;
        });
    return result;
}

std::optional<bool> TRegistry::ReadBool(const QString &name) const
{
    const auto value = ReadInteger(name);
    if (!value)
        return std::nullopt;
    return *value != 0;
}

namespace {
bool WriteValue(HKEY root, const QString &keyPath, RegValue value)
{
    return Store(root).Change([&](RegTree &tree) {
        auto it = tree.find(Fold(keyPath));
        if (it == tree.end())
            return false; // deleted meanwhile
        if (RegValue *existing = it->second.Find(value.Name)) {
            value.Name = existing->Name; // keep the spelling it was created with
            *existing = std::move(value);
        } else {
            it->second.Values.push_back(std::move(value));
        }
        return true;
    });
}
} // namespace

bool TRegistry::WriteInteger(const QString &name, std::int32_t value)
{
    if (!HasCurrentKey())
        return false;
    return WriteValue(m_Root, m_CurrentPath, RegValue{name, TRegDataType::rdInteger, value, {}});
}

bool TRegistry::WriteString(const QString &name, const QString &value)
{
    if (!HasCurrentKey())
        return false;
    return WriteValue(m_Root, m_CurrentPath, RegValue{name, TRegDataType::rdString, 0, value});
}
