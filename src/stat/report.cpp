#include "stat/report.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>

#include "core/escape.h"

const char* const TSVHEADER = "file\tscope\tname\tname2\tpopulations\tloci\tgenes\ttheta\tse\tfst\tprofile_"
                              "low\tprofile_high\twald_low\t"
                              "wald_high\tboot_low\tboot_high\tlr\tp\tnote";

namespace {

// x as printf's %.{digits}g writes it (to_chars is defined to give the same
// characters, and is several times as fast on a table of 100,000 rows).
std::string gtext(double x, int digits)
{
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, digits);
    return {buf, r.ptr};
}

}  // namespace

std::string floattext(float x)
{
    return gtext(static_cast<double>(x), 9);
}

std::string doubletext(double x)
{
    if (std::isnan(x))
        return "nan";
    return gtext(x, 17);
}

namespace {

// A number for people: 6 significant digits, as vorn prints.
std::string shorttext(double x)
{
    if (std::isnan(x))
        return "nan";
    return gtext(x, 6);
}

std::string endtext(const limit& e, bool exact)
{
    switch (e.kind) {
    case limit::value:
        return exact ? doubletext(e.x) : shorttext(e.x);
    case limit::zero:
        return "0";
    case limit::infinite:
        return "inf";
    default:
        return "";
    }
}

bool hasroot(const result& e)
{
    return e.where == fitend::root;
}

double fst(float theta)
{
    return 1.0 / (1.0 + static_cast<double>(theta));
}

// Names in a table cell: no control byte, no tab.
std::string cell(const std::string& s)
{
    return escaped(s);
}

// s padded with spaces to width, on the left (right set) or the right.
void pad(std::string& line, std::string_view s, std::size_t width, bool right)
{
    const std::size_t fill = width > s.size() ? width - s.size() : 0;
    if (!right)
        line += s;
    line.append(fill, ' ');
    if (right)
        line += s;
}

std::string intervaltext(const interval& in)
{
    if (in.low.kind == limit::none)
        return "";
    return endtext(in.low, false) + " to " + endtext(in.high, false);
}

interval fstinterval(const interval& in)
{
    return {fstof(in.high), fstof(in.low)};
}

void writeglobal(std::ostream& out, const result& e, const settings& s)
{
    const std::string level = shorttext(100.0 * s.level) + "%";
    if (hasroot(e)) {
        out << "  theta " << shorttext(e.theta) << ", standard error " << shorttext(e.se) << ", F_ST "
            << shorttext(fst(e.theta)) << '\n';
    } else {
        out << "  theta: no estimate: " << e.note << '\n';
    }
    if (e.profile.low.kind != limit::none)
        out << "  " << level << " profile-likelihood interval: theta " << intervaltext(e.profile) << ", F_ST "
            << intervaltext(fstinterval(e.profile)) << '\n';
    if (e.wald.low.kind != limit::none)
        out << "  " << level << " Wald interval on log theta: theta " << intervaltext(e.wald) << ", F_ST "
            << intervaltext(fstinterval(e.wald)) << '\n';
    if (e.boot.low.kind != limit::none)
        out << "  " << level << " bootstrap percentile interval (" << s.bootstrap
            << " replicates over loci): theta " << intervaltext(e.boot) << ", F_ST "
            << intervaltext(fstinterval(e.boot)) << '\n';
    if (e.tested)
        out << "  test of no differentiation: LR " << shorttext(e.lr) << ", p " << shorttext(e.p) << '\n';
    if (hasroot(e) && !e.note.empty())
        out << "  note: " << e.note << '\n';
}

void writetable(std::ostream& out, const std::vector<const result*>& rows, bool pair, bool sites)
{
    // Every cell, row by row, in one text (a genome's table has a row per
    // site): cell k ends at ends[k], and starts where cell k - 1 ended.
    std::string text;
    std::vector<std::size_t> ends;
    const auto add = [&](std::string_view v) {
        text += v;
        ends.push_back(text.size());
    };
    add(pair ? "population" : "name");
    if (pair)
        add("population");
    if (sites)
        add("sites");
    for (const char* h : {"genes", "theta", "se", "F_ST", "profile interval", "LR", "p", "note"})
        add(h);
    const std::size_t cols = ends.size();
    ends.reserve(cols * (rows.size() + 1));
    for (const result* e : rows) {
        add(cell(e->name));
        if (pair)
            add(cell(e->name2));
        if (sites)
            add(std::to_string(e->loci));
        add(std::to_string(e->genes));
        add(hasroot(*e) ? shorttext(e->theta) : "");
        add(hasroot(*e) ? shorttext(e->se) : "");
        add(hasroot(*e) ? shorttext(fst(e->theta)) : "");
        add(intervaltext(e->profile));
        add(e->tested ? shorttext(e->lr) : "");
        add(e->tested ? shorttext(e->p) : "");
        add(e->note);
    }
    const auto at = [&](std::size_t k) {
        const std::size_t from = k == 0 ? 0 : ends[k - 1];
        return std::string_view(text).substr(from, ends[k] - from);
    };
    std::vector<std::size_t> width(cols, 0);
    for (std::size_t k = 0; k < ends.size(); ++k)
        width[k % cols] = std::max(width[k % cols], at(k).size());
    const std::size_t names = pair ? 2 : 1;
    std::string line;  // each line is made whole, then written
    for (std::size_t k = 0; k < ends.size(); k += cols) {
        line.assign(1, ' ');
        for (std::size_t i = 0; i < cols; ++i) {
            line += ' ';
            if (i + 1 == cols)
                line += at(k + i);
            else
                pad(line, at(k + i), width[i],
                    i >= names && i != names + (sites ? 5 : 4));  // numbers to the right
        }
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

}  // namespace

void writetext(std::ostream& out, const analysed& a, const settings& s)
{
    const counts& c = a.in.table;
    out << escaped(a.in.file) << ": " << a.in.format;
    if (!a.in.layout.empty())
        out << " (" << a.in.layout << ")";
    out << ", " << c.npops() << (c.npops() == 1 ? " population, " : " populations, ") << c.nloci()
        << (c.nloci() == 1 ? " locus, " : " loci, ") << a.results.front().genes << " genes\n";
    writeglobal(out, a.results.front(), s);
    for (const char* scope : {"locus", "pop", "pair", "window"}) {
        std::vector<const result*> rows;
        for (const result& e : a.results)
            if (e.scope == scope)
                rows.push_back(&e);
        if (rows.empty())
            continue;
        const std::string what = std::string(scope) == "locus" ? "Each locus alone"
                                 : std::string(scope) == "pop"
                                     ? "Each population against the pooled frequencies"
                                 : std::string(scope) == "pair" ? "Each pair of populations"
                                                                : "Windows along the genome";
        out << '\n' << what << ":\n";
        writetable(out, rows, std::string(scope) == "pair", std::string(scope) == "window");
    }
}

void writetsvrows(std::ostream& out, const analysed& a)
{
    for (const result& e : a.results) {
        const bool root = hasroot(e);
        const std::string fields[] = {
            cell(a.in.file),
            e.scope,
            cell(e.name),
            cell(e.name2),
            std::to_string(e.populations),
            std::to_string(e.loci),
            std::to_string(e.genes),
            root ? floattext(e.theta) : "",
            root ? doubletext(e.se) : "",
            root ? doubletext(fst(e.theta)) : "",
            endtext(e.profile.low, true),
            endtext(e.profile.high, true),
            endtext(e.wald.low, true),
            endtext(e.wald.high, true),
            endtext(e.boot.low, true),
            endtext(e.boot.high, true),
            e.tested ? doubletext(e.lr) : "",
            e.tested ? doubletext(e.p) : "",
            e.note,
        };
        bool first = true;
        for (const std::string& f : fields) {
            out << (first ? "" : "\t") << f;
            first = false;
        }
        out << '\n';
    }
}

void writematrix(std::ostream& out, const analysed& a)
{
    const counts& c = a.in.table;
    std::map<std::pair<std::string, std::string>, const result*> pairs;
    for (const result& e : a.results)
        if (e.scope == "pair")
            pairs[{e.name, e.name2}] = &e;
    for (int p = 0; p < c.npops(); ++p)
        out << '\t' << cell(c.popnames[p]);
    out << '\n';
    for (int p = 0; p < c.npops(); ++p) {
        out << cell(c.popnames[p]);
        for (int q = 0; q < c.npops(); ++q) {
            out << '\t';
            if (p == q) {
                out << '0';
                continue;
            }
            auto it = pairs.find(p < q ? std::pair{c.popnames[p], c.popnames[q]}
                                       : std::pair{c.popnames[q], c.popnames[p]});
            const result* e = it == pairs.end() ? nullptr : it->second;
            if (e && hasroot(*e))
                out << doubletext(fst(e->theta));
            else if (e && e->where == fitend::above)
                out << '0';
            else
                out << "NA";
        }
        out << '\n';
    }
}

std::string jsonstring(const std::string& s)
{
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

namespace {

std::string jsonend(const limit& e)
{
    switch (e.kind) {
    case limit::value:
        return doubletext(e.x);
    case limit::zero:
        return "0";
    case limit::infinite:
        return "\"inf\"";
    default:
        return "null";
    }
}

std::string jsoninterval(const interval& in)
{
    return "{\"low\": " + jsonend(in.low) + ", \"high\": " + jsonend(in.high) + "}";
}

void writejsonestimate(std::ostream& out, const result& e)
{
    const bool root = hasroot(e);
    out << "        {\"scope\": " << jsonstring(e.scope) << ", \"name\": " << jsonstring(e.name)
        << ", \"name2\": " << jsonstring(e.name2) << ", \"populations\": " << e.populations
        << ", \"loci\": " << e.loci << ", \"genes\": " << e.genes
        << ", \"theta\": " << (root ? floattext(e.theta) : "null")
        << ", \"se\": " << (root && std::isfinite(e.se) ? doubletext(e.se) : "null")
        << ", \"fst\": " << (root ? doubletext(fst(e.theta)) : "null")
        << ", \"profile\": " << jsoninterval(e.profile)
        << ", \"fst_profile\": " << jsoninterval(fstinterval(e.profile))
        << ", \"wald\": " << jsoninterval(e.wald) << ", \"fst_wald\": " << jsoninterval(fstinterval(e.wald))
        << ", \"bootstrap\": " << jsoninterval(e.boot)
        << ", \"fst_bootstrap\": " << jsoninterval(fstinterval(e.boot))
        << ", \"lr\": " << (e.tested ? doubletext(e.lr) : "null")
        << ", \"p\": " << (e.tested ? doubletext(e.p) : "null") << ", \"note\": " << jsonstring(e.note)
        << "}";
}

}  // namespace

void writejson(std::ostream& out, const std::vector<analysed>& done, const std::vector<failedinput>& failed,
               const settings&, const std::string& optionsjson)
{
    out << "{\n  \"program\": \"vornstat\",\n  \"version\": " << jsonstring(VORN_VERSION)
        << ",\n  \"options\": " << optionsjson << ",\n  \"inputs\": [";
    for (std::size_t i = 0; i < done.size(); ++i) {
        const analysed& a = done[i];
        out << (i ? ",\n" : "\n") << "    {\"file\": " << jsonstring(a.in.file) << ", \"sha256\": \""
            << a.in.sha256 << "\", \"format\": " << jsonstring(a.in.format)
            << ", \"layout\": " << jsonstring(a.in.layout) << ", \"populations\": " << a.in.table.npops()
            << ", \"loci\": " << a.in.table.nloci() << ",\n      \"warnings\": [";
        for (std::size_t w = 0; w < a.in.warnings.size(); ++w)
            out << (w ? ", " : "") << "{\"line\": " << a.in.warnings[w].line
                << ", \"text\": " << jsonstring(a.in.warnings[w].text) << "}";
        out << "],\n      \"results\": [";
        for (std::size_t r = 0; r < a.results.size(); ++r) {
            out << (r ? ",\n" : "\n");
            writejsonestimate(out, a.results[r]);
        }
        out << "\n      ]}";
    }
    out << "\n  ],\n  \"errors\": [";
    for (std::size_t i = 0; i < failed.size(); ++i)
        out << (i ? ", " : "") << "{\"file\": " << jsonstring(failed[i].file)
            << ", \"line\": " << failed[i].line << ", \"message\": " << jsonstring(failed[i].message) << "}";
    out << "]\n}\n";
}
