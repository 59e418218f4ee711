// The plant configuration format. One statement per line; blank lines and lines starting with
// '#' or ';' are ignored.
//
//   [Area1.Line1]               the branch that the following signals belong to, names joined
//                               by '.'; branches are created as needed; [] is the root
//   <name> <kind> [key=value | flag] ...
//                               a signal; a name with blanks is put in double quotes
//
// Kinds: const, sine, ramp, square, randomwalk, counter, bool, string. Keys (numbers are
// written with '.'; texts may be put in double quotes to hold blanks):
//   type=R8|R4|I1|I2|I4|I8|UI1|UI2|UI4|UI8|BOOL|BSTR   canonical type (default by kind)
//   low=, high=       range of the value; the percent deadband refers to it
//   period=           seconds of one cycle (sine, ramp, square, bool), of one value (string),
//                     of one step (counter, randomwalk)
//   phase=            fraction of a period by which the signal runs ahead
//   step=             counter increment, largest random-walk step
//   value=            const value (a text for type=BSTR), counter and random-walk start
//   seed=             random-walk seed (default: derived from the item id)
//   values=A|B|C      the texts a string signal shows in turn
//   unit=, description=                               texts of properties 100 and 101
//   quality=good|uncertain|bad|cycle, qperiod=        quality; a cycle is good for 60 %,
//                                                     uncertain for 20 % and bad for 20 %
//   count=N           N signals; '#' in the name becomes 1..N with leading zeros, and their
//                     phases spread over one period
//   writable          flag: the item accepts writes; a written value replaces the generated one
//
// Example:
//   [Area1.Line1]
//   Temperature  sine  low=60 high=80 period=60 unit=°C description="Product temperature"
//   Setpoint     const value=70 writable unit=°C
//   Sensor#      sine  count=20 period=30
#include "opcsim/SimPlant.h"

#include <QFile>
#include <cmath>
#include <set>

namespace {

struct TKindInfo
{
    const char *Name;
    TSimKind Kind;
    VARTYPE Type;
    double Period;
};

constexpr TKindInfo Kinds[] = {
    {"const", skConst, VT_R8, 10.0},
    {"sine", skSine, VT_R8, 60.0},
    {"ramp", skRamp, VT_R8, 60.0},
    {"square", skSquare, VT_R8, 20.0},
    {"randomwalk", skRandomWalk, VT_R8, 1.0},
    {"counter", skCounter, VT_I4, 1.0},
    {"bool", skBool, VT_BOOL, 20.0},
    {"string", skString, VT_BSTR, 10.0},
};

struct TTypeName
{
    const char *Name;
    VARTYPE Type;
};

constexpr TTypeName TypeNames[] = {
    {"R8", VT_R8},   {"R4", VT_R4},   {"I1", VT_I1},     {"I2", VT_I2},
    {"I4", VT_I4},   {"I8", VT_I8},   {"UI1", VT_UI1},   {"UI2", VT_UI2},
    {"UI4", VT_UI4}, {"UI8", VT_UI8}, {"BOOL", VT_BOOL}, {"BSTR", VT_BSTR},
};

struct TSyntaxError
{
    QString Message;
};

[[noreturn]] void Fail(QString message)
{
    throw TSyntaxError{std::move(message)};
}

// Splits at blanks outside double quotes; the quotes themselves are dropped.
QStringList Tokens(const QString &line)
{
    QStringList tokens;
    QString current;
    bool quoted = false;
    bool any = false;
    for (const QChar c : line) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && c.isSpace()) {
            if (any)
                tokens.append(current);
            current.clear();
            any = false;
        } else {
            current.append(c);
            any = true;
        }
    }
    if (quoted)
        Fail(QStringLiteral("Anführungszeichen nicht geschlossen"));
    if (any)
        tokens.append(current);
    return tokens;
}

// Blanks inside a name are fine (quote the name on a signal line), at its ends they are not.
bool IsValidName(const QString &name)
{
    return !name.isEmpty() && name.trimmed() == name && !name.contains(SimSeparator) &&
           std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c == u'"'; });
}

double Number(const QString &key, const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        Fail(QStringLiteral("ungültiger Wert für %1: \"%2\"").arg(key, text));
    return value;
}

std::uint64_t Fnv1a(const QString &text)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const QChar c : text) {
        hash ^= c.unicode();
        hash *= 1099511628211ULL;
    }
    return hash;
}

class TParser
{
public:
    TSimPlantDefinition Result;

    TParser()
    {
        Result.Branches.push_back(TSimBranch{});
        m_Names.insert(QString());
    }

    void Line(const QString &raw)
    {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            return;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                Fail(QStringLiteral("Zweig ohne schließende Klammer"));
            m_Branch = BranchOf(line.mid(1, line.size() - 2).trimmed());
            return;
        }
        Signal(Tokens(line));
    }

private:
    int BranchOf(const QString &path)
    {
        int branch = 0;
        if (path.isEmpty())
            return branch;
        for (const QString &name : path.split(SimSeparator)) {
            if (!IsValidName(name))
                Fail(QStringLiteral("ungültiger Name \"%1\"").arg(name));
            const TSimBranch &parent = Result.Branches[branch];
            const QString childPath =
                parent.Path.isEmpty() ? name : parent.Path + SimSeparator + name;
            int child = -1;
            for (const int b : parent.Branches)
                if (Result.Branches[b].Name == name)
                    child = b;
            if (child < 0) {
                Claim(childPath);
                child = static_cast<int>(Result.Branches.size());
                Result.Branches[branch].Branches.push_back(child);
                Result.Branches.push_back(TSimBranch{name, childPath, branch, {}, {}});
            }
            branch = child;
        }
        return branch;
    }

    // Item ids and branch paths share one name space: GetItemID answers for both.
    void Claim(const QString &id)
    {
        if (!m_Names.insert(id).second)
            Fail(QStringLiteral("Name \"%1\" ist doppelt vergeben").arg(id));
    }

    void Signal(const QStringList &tokens)
    {
        if (tokens.size() < 2)
            Fail(QStringLiteral("Signalart fehlt"));
        const QString kindName = tokens[1].toLower();
        const TKindInfo *kind = nullptr;
        for (const TKindInfo &k : Kinds)
            if (kindName == QLatin1String(k.Name))
                kind = &k;
        if (!kind)
            Fail(QStringLiteral("unbekannte Signalart \"%1\"").arg(tokens[1]));

        TSimSignal s;
        s.Kind = kind->Kind;
        s.Type = kind->Type;
        s.Period = kind->Period;
        bool hasValue = false;
        bool hasSeed = false;
        bool hasPhase = false;
        QString valueText;
        int count = 1;
        for (qsizetype i = 2; i < tokens.size(); ++i) {
            const QString &token = tokens[i];
            const qsizetype eq = token.indexOf(u'=');
            const QString key = (eq < 0 ? token : token.left(eq)).toLower();
            const QString value = eq < 0 ? QString() : token.mid(eq + 1);
            if (eq < 0) {
                if (key != QLatin1String("writable"))
                    Fail(QStringLiteral("unbekannter Schlüssel \"%1\"").arg(token));
                s.AccessRights = OPC_READABLE | OPC_WRITEABLE;
            } else if (key == QLatin1String("type")) {
                s.Type = TypeOf(value);
            } else if (key == QLatin1String("low")) {
                s.Low = Number(key, value);
            } else if (key == QLatin1String("high")) {
                s.High = Number(key, value);
            } else if (key == QLatin1String("period")) {
                s.Period = Number(key, value);
            } else if (key == QLatin1String("phase")) {
                s.Phase = Number(key, value);
                hasPhase = true;
            } else if (key == QLatin1String("step")) {
                s.Step = Number(key, value);
            } else if (key == QLatin1String("value")) {
                valueText = value;
                hasValue = true;
            } else if (key == QLatin1String("seed")) {
                s.Seed = static_cast<std::uint64_t>(Number(key, value));
                hasSeed = true;
            } else if (key == QLatin1String("values")) {
                s.Values = value.split(u'|');
            } else if (key == QLatin1String("unit")) {
                s.Unit = value;
            } else if (key == QLatin1String("description")) {
                s.Description = value;
            } else if (key == QLatin1String("quality")) {
                s.QualityMode = QualityOf(value);
            } else if (key == QLatin1String("qperiod")) {
                s.QualityPeriod = Number(key, value);
            } else if (key == QLatin1String("count")) {
                const double n = Number(key, value);
                if (n < 1 || n > 1'000'000 || n != std::floor(n))
                    Fail(QStringLiteral("ungültiger Wert für count: \"%1\"").arg(value));
                count = static_cast<int>(n);
            } else {
                Fail(QStringLiteral("unbekannter Schlüssel \"%1\"").arg(key));
            }
        }
        Check(s, hasValue, valueText);
        Add(tokens[0], std::move(s), count, hasSeed, hasPhase);
    }

    static VARTYPE TypeOf(const QString &text)
    {
        for (const TTypeName &t : TypeNames)
            if (text.compare(QLatin1String(t.Name), Qt::CaseInsensitive) == 0)
                return t.Type;
        Fail(QStringLiteral("unbekannter Datentyp \"%1\"").arg(text));
    }

    static TSimQualityMode QualityOf(const QString &text)
    {
        static const std::pair<const char *, TSimQualityMode> modes[] = {
            {"good", sqGood}, {"uncertain", sqUncertain}, {"bad", sqBad}, {"cycle", sqCycle}};
        for (const auto &[name, mode] : modes)
            if (text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return mode;
        Fail(QStringLiteral("ungültiger Wert für quality: \"%1\"").arg(text));
    }

    static void Check(TSimSignal &s, bool hasValue, const QString &valueText)
    {
        if (s.Period <= 0.0 || s.QualityPeriod <= 0.0)
            Fail(QStringLiteral("die Periode muss größer als 0 sein"));
        if (s.High < s.Low)
            Fail(QStringLiteral("high ist kleiner als low"));
        if (s.Type == VT_BSTR && s.Kind != skString && s.Kind != skConst)
            Fail(QStringLiteral("Texte gibt es nur bei const und string"));
        if (s.Kind == skString) {
            if (s.Type != VT_BSTR)
                Fail(QStringLiteral("string-Signale haben den Typ BSTR"));
            if (s.Values.isEmpty() || (s.Values.size() == 1 && s.Values[0].isEmpty()))
                Fail(QStringLiteral("string-Signale brauchen values="));
            return;
        }
        if (s.Type == VT_BSTR) {
            s.Values = QStringList{valueText};
            return;
        }
        if (s.Kind == skCounter) {
            if (s.Type == VT_BOOL)
                Fail(QStringLiteral("ein Zähler kann nicht BOOL sein"));
            if (s.High == 100.0 && s.Low == 0.0)
                s.High = 2147483647.0; // counters run up unless told otherwise
            if (s.Step <= 0.0)
                Fail(QStringLiteral("step muss größer als 0 sein"));
        }
        if (hasValue)
            s.Value = Number(QStringLiteral("value"), valueText);
        else if (s.Kind == skRandomWalk)
            s.Value = (s.Low + s.High) / 2.0;
        else if (s.Kind == skCounter)
            s.Value = s.Low;
        s.Analog = s.Type != VT_BOOL && s.Kind != skCounter && s.Kind != skBool;
    }

    void Add(const QString &pattern, TSimSignal s, int count, bool hasSeed, bool hasPhase)
    {
        if (count > 1 && !pattern.contains(u'#'))
            Fail(QStringLiteral("count verlangt ein # im Namen"));
        const int width = static_cast<int>(QString::number(count).size());
        const double phase = s.Phase;
        for (int i = 1; i <= count; ++i) {
            TSimSignal signal = s;
            signal.Name = count > 1 || pattern.contains(u'#')
                              ? QString(pattern).replace(
                                    u'#', QStringLiteral("%1").arg(i, width, 10, QLatin1Char('0')))
                              : pattern;
            if (!IsValidName(signal.Name))
                Fail(QStringLiteral("ungültiger Name \"%1\"").arg(signal.Name));
            const TSimBranch &branch = Result.Branches[m_Branch];
            signal.ItemID =
                branch.Path.isEmpty() ? signal.Name : branch.Path + SimSeparator + signal.Name;
            signal.Branch = m_Branch;
            if (!hasSeed)
                signal.Seed = Fnv1a(signal.ItemID);
            if (!hasPhase && count > 1)
                signal.Phase = phase + static_cast<double>(i - 1) / count;
            Claim(signal.ItemID);
            Result.Branches[m_Branch].Leaves.push_back(
                static_cast<std::uint32_t>(Result.Signals.size()));
            Result.Signals.push_back(std::move(signal));
        }
    }

    int m_Branch = 0;
    std::set<QString> m_Names;
};

} // namespace

TSimPlantDefinition ParsePlant(const QString &text, const QString &sourceName)
{
    TParser parser;
    int number = 0;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        ++number;
        try {
            parser.Line(line.toString());
        } catch (const TSyntaxError &error) {
            throw ESimulationConfigError(QStringLiteral("Simulationsanlage %1, Zeile %2: %3")
                                             .arg(sourceName)
                                             .arg(number)
                                             .arg(error.Message));
        }
    }
    return std::move(parser.Result);
}

QString BuiltInPlantText()
{
    QString text = QStringLiteral(
        "# Tidewell OPC Simulation: built-in demo plant\n"
        "[Plant]\n"
        "Heartbeat bool period=2 description=\"Toggles every second\"\n"
        "Clock counter period=1 unit=s description=\"Seconds since start\"\n"
        "Mode string values=Automatic|Manual|Maintenance period=120 "
        "description=\"Operating mode\"\n"
        "Operator const type=BSTR value=Nobody writable description=\"Operator on duty\"\n");
    for (int area = 1; area <= 3; ++area) {
        for (int line = 1; line <= 3; ++line) {
            const int n = (area - 1) * 3 + line;
            text += QStringLiteral("[Area%1.Line%2]\n").arg(area).arg(line);
            text +=
                QStringLiteral("Temperature sine low=%1 high=%2 period=60 phase=%3 unit=°C "
                               "description=\"Product temperature\"\n"
                               "Pressure randomwalk type=R4 low=1 high=6 step=0.05 unit=bar "
                               "description=\"Line pressure\"\n"
                               "Flow sine low=0 high=120 period=45 phase=%3 unit=m³/h "
                               "description=\"Product flow\"\n"
                               "Level ramp low=0 high=100 period=300 phase=%3 unit=% "
                               "description=\"Buffer tank level\"\n"
                               "Speed square type=I4 low=0 high=1450 period=90 unit=rpm "
                               "description=\"Drive speed\"\n"
                               "Running bool period=90 description=\"Drive running\"\n"
                               "State string values=Stopped|Starting|Running|Cleaning period=30 "
                               "description=\"Line state\"\n"
                               "Pieces counter period=1 unit=pcs description=\"Pieces produced\"\n"
                               "TemperatureSetpoint const value=70 low=0 high=150 writable unit=°C "
                               "description=\"Temperature setpoint\"\n"
                               "SpeedSetpoint const type=I4 value=1200 low=0 high=3000 writable "
                               "unit=rpm description=\"Speed setpoint\"\n"
                               "Recipe const type=BSTR value=Standard writable "
                               "description=\"Active recipe\"\n"
                               "Vibration sine low=0 high=10 period=17 quality=cycle qperiod=120 "
                               "unit=mm/s description=\"Bearing vibration, sensor drops out\"\n"
                               "Sensor# sine count=20 low=0 high=100 period=30 unit=% "
                               "description=\"Auxiliary sensor\"\n")
                    .arg(60 + n)
                    .arg(80 + n)
                    .arg(n / 10.0);
        }
    }
    return text;
}

TSimPlantDefinition LoadPlant(const TSimulationOptions &options)
{
    if (!options.PlantText.isEmpty())
        return ParsePlant(options.PlantText, QStringLiteral("(Text)"));
    if (!options.PlantFile.isEmpty()) {
        QFile file(options.PlantFile);
        if (!file.open(QIODevice::ReadOnly))
            throw ESimulationConfigError(
                QStringLiteral("Die Simulationsanlage %1 kann nicht gelesen werden.")
                    .arg(options.PlantFile));
        return ParsePlant(QString::fromUtf8(file.readAll()), options.PlantFile);
    }
    return ParsePlant(BuiltInPlantText(), QStringLiteral("(eingebaut)"));
}
