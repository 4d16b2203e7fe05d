#include "stat/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>

#include "core/estimate.h"
#include "core/fit.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// A coordinate: at most two decimals, no trailing zeros.
std::string num(double x)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.2f", x);
    std::string s = buf;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

// A number for people: three significant digits, or as many as asked.
std::string sig(double x, int digits = 3)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, x);
    return buf;
}

std::size_t codepoints(const std::string& s)
{
    return static_cast<std::size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// The width of a text in sans-serif at this size, a little generous: wide
// fonts (DejaVu Sans) run about 0.6 em a character.
double textwidth(const std::string& s, double size)
{
    return 0.62 * size * static_cast<double>(codepoints(s));
}

// Text (already escaped) with each "F_ST" written with a subscript.
std::string rich(const std::string& s, double size = 12)
{
    const std::string down = num(0.3 * size);
    std::size_t f = s.find("F_ST");
    std::string out = s.substr(0, f);
    while (f != std::string::npos) {
        const std::size_t next = s.find("F_ST", f + 4);
        out += "F<tspan dy=\"" + down + "\" font-size=\"" + num(0.75 * size) + "\">ST</tspan><tspan dy=\"-" +
               down + "\">" + s.substr(f + 4, next == std::string::npos ? next : next - f - 4) + "</tspan>";
        f = next;
    }
    return out;
}

// Blanks are kept as written: renderers drop a blank at the start of a
// tspan (after a subscript) unless told to preserve them.
std::string text(double x, double y, const std::string& body, const std::string& attrs = "")
{
    return "<text xml:space=\"preserve\" x=\"" + num(x) + "\" y=\"" + num(y) + "\"" +
           (attrs.empty() ? "" : " " + attrs) + ">" + body + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const std::string& attrs)
{
    return "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" + num(y2) +
           "\" " + attrs + "/>\n";
}

std::string rect(double x, double y, double w, double h, const std::string& attrs)
{
    return "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(std::max(0.0, w)) +
           "\" height=\"" + num(std::max(0.0, h)) + "\" " + attrs + "/>\n";
}

std::string head(double w, double h, const std::string& title)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           num(w) + "\" height=\"" + num(h) + "\" viewBox=\"0 0 " + num(w) + " " + num(h) +
           "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">\n<title>" + title +
           "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
}

// Words into lines of at most width characters.
std::vector<std::string> wrap(const std::string& s, std::size_t width)
{
    std::vector<std::string> lines(1);
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t end = s.find(' ', at);
        if (end == std::string::npos)
            end = s.size();
        const std::string word = s.substr(at, end - at);
        if (!lines.back().empty() && codepoints(lines.back()) + 1 + codepoints(word) > width)
            lines.emplace_back();
        lines.back() += (lines.back().empty() ? "" : " ") + word;
        at = end + 1;
    }
    return lines;
}

// A name as a label of at most n characters; a shortened one carries the
// whole name as its title, which viewers show on hovering.
std::string namelabel(const std::string& name, std::size_t n)
{
    const std::string shown = shorten(name, n);
    return svgtext(shown) + (shown == name ? "" : "<title>" + svgtext(name) + "</title>");
}

// The input's name in a title: its base name, shortened.
std::string filetitle(const analysed& a)
{
    return svgtext(shorten(std::filesystem::path(a.in.file).filename().string(), 40));
}

// A value axis: v0..v1 drawn at pixels p0..p1, linear or on log10.
struct axis {
    double v0, v1, p0, p1;
    bool log = false;
    double at(double v) const
    {
        const double t =
            log ? (std::log10(v) - std::log10(v0)) / (std::log10(v1) - std::log10(v0)) : (v - v0) / (v1 - v0);
        return p0 + t * (p1 - p0);
    }
    // The mapping, for readers of the SVG (and its test).
    std::string data() const
    {
        return std::string(log ? "log10 " : "linear ") + doubletext(v0) + " " + doubletext(v1) + " " +
               doubletext(p0) + " " + doubletext(p1);
    }
};

// 1, 2 or 5 times a power of ten, so that span holds about want steps.
double nicestep(double span, int want)
{
    const double raw = span / want;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * mag >= raw * (1 - 1e-9))
            return m * mag;
    return 10 * mag;
}

std::vector<double> multiples(double lo, double hi, double step)
{
    std::vector<double> v;
    for (auto k = std::llround(std::ceil(lo / step - 1e-9));
         static_cast<double>(k) * step <= hi + 1e-9 * step; ++k)
        v.push_back(static_cast<double>(k) * step);
    return v;
}

// Each m times each power of ten from the one below lo to the one above hi.
std::vector<double> powers(double lo, double hi, std::initializer_list<double> ms)
{
    std::vector<double> v;
    for (const double m : ms)
        for (auto k = std::lround(std::floor(std::log10(lo))); k <= std::lround(std::ceil(std::log10(hi)));
             ++k)
            v.push_back(m * std::pow(10.0, static_cast<double>(k)));
    return v;
}

// Ticks from candidates in order of preference: kept when they lie within
// lo..hi and at least gap pixels (by pos) from each tick kept before.
std::vector<double> placeticks(const std::vector<double>& candidates, double lo, double hi, double gap,
                               const std::function<double(double)>& pos)
{
    std::vector<double> kept;
    for (const double c : candidates) {
        if (!(c >= lo * (1 - 1e-12) && c <= hi * (1 + 1e-12)))
            continue;
        if (std::all_of(kept.begin(), kept.end(),
                        [&](double k) { return std::fabs(pos(k) - pos(c)) >= gap; }))
            kept.push_back(c);
    }
    return kept;
}

std::string ticktext(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// Horizontal axis line at y with ticks and labels below (or above, up).
std::string xticks(const axis& ax, double y, const std::vector<double>& at, bool up = false,
                   const std::function<double(double)>& pos = nullptr)
{
    std::string s = line(ax.p0, y, ax.p1, y, "stroke=\"#444\"");
    for (const double v : at) {
        const double x = pos ? pos(v) : ax.at(v);
        s += line(x, y, x, y + (up ? -5 : 5), "stroke=\"#444\"");
        s += text(x, y + (up ? -8 : 18), ticktext(v), "text-anchor=\"middle\"");
    }
    return s;
}

std::string yticks(const axis& ax, double x, const std::vector<double>& at)
{
    std::string s = line(x, ax.p0, x, ax.p1, "stroke=\"#444\"");
    for (const double v : at) {
        s += line(x - 5, ax.at(v), x, ax.at(v), "stroke=\"#444\"");
        s += text(x - 8, ax.at(v) + 4, ticktext(v), "text-anchor=\"end\"");
    }
    return s;
}

// The F_ST a plot draws for a result: at the estimate, 0 when theta lies
// above 10000, 1 when below 0.00001; NaN when there is none.
double fstvalue(const result& e)
{
    switch (e.where) {
    case fitend::root:
        return 1.0 / (1.0 + static_cast<double>(e.theta));
    case fitend::above:
        return 0.0;
    case fitend::below:
        return 1.0;
    default:
        return NaN;
    }
}

// A result's F_ST in words: the number, or where theta lies without one.
std::string fstwords(const result& e)
{
    switch (e.where) {
    case fitend::root:
        return sig(fstvalue(e));
    case fitend::above:
        return "0 (θ above 10000)";
    case fitend::below:
        return "1 (θ below 0.00001)";
    default:
        return "no estimate";
    }
}

// The F_ST interval of a theta interval (ends swap); NaN for a missing end.
std::pair<double, double> fstrange(const interval& in)
{
    const limit lo = fstof(in.high), hi = fstof(in.low);
    return {lo.kind == limit::value ? lo.x : NaN, hi.kind == limit::value ? hi.x : NaN};
}

// A theta interval end in words.
std::string endwords(const limit& e, int digits)
{
    return e.kind == limit::value  ? sig(e.x, digits)
           : e.kind == limit::zero ? "below 0.00001"
                                   : "beyond 10000";
}

// A viridis-like sequential scale from dark purple (0) to yellow (1): its
// lightness rises steadily, so it reads in grey and to colour-blind eyes.
std::string viridis(double t)
{
    static const int stops[9][3] = {{68, 1, 84},    {71, 44, 122},  {59, 81, 139},
                                    {44, 113, 142}, {33, 144, 140}, {39, 173, 129},
                                    {92, 200, 99},  {170, 220, 50}, {253, 231, 37}};
    t = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * 8;
    const int i = std::min(7, static_cast<int>(t));
    const double f = t - i;
    char buf[8];
    int c[3];
    for (int k = 0; k < 3; ++k)
        c[k] = static_cast<int>(std::lround(stops[i][k] + f * (stops[i + 1][k] - stops[i][k])));
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
    return buf;
}

// The words of a legend row, right of its swatch at x.
std::string legendtext(double x, double y, const std::string& words)
{
    return text(x + 30, y + 4, rich(words));
}

}  // namespace

std::string svgtext(const std::string& s)
{
    static const char* const bad = "\xef\xbf\xbd";  // U+FFFD
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size();
        unsigned cp = len == 1 ? c : len == 2 ? c & 0x1fu : len == 3 ? c & 0x0fu : c & 0x07u;
        for (int k = 1; ok && k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            ok = (d & 0xc0) == 0x80;
            cp = (cp << 6) | (d & 0x3fu);
        }
        // Overlong forms, surrogates, and what XML does not allow.
        static const unsigned lowest[5] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= lowest[len] && !(cp >= 0xd800 && cp <= 0xdfff) && cp <= 0x10ffff && cp != 0xfffe &&
             cp != 0xffff && cp >= 0x20 && cp != 0x7f;
        if (!ok) {
            out += bad;
            ++i;
            continue;
        }
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out.append(s, i, len);
        i += len;
    }
    return out;
}

std::string shorten(const std::string& s, std::size_t n)
{
    if (codepoints(s) <= n || n == 0)
        return s;
    std::size_t kept = 0, i = 0;
    for (; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xc0) != 0x80 && kept++ == n - 1)
            break;
    return s.substr(0, i) + "\xe2\x80\xa6";  // U+2026
}

std::vector<bool> discoveries(const std::vector<double>& p, double q)
{
    std::vector<std::size_t> idx;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (!std::isnan(p[i]))
            idx.push_back(i);
    std::stable_sort(idx.begin(), idx.end(), [&](std::size_t a, std::size_t b) { return p[a] < p[b]; });
    // The largest rank k with p(k) <= k q / m: the k smallest are discoveries.
    const double m = static_cast<double>(idx.size());
    std::size_t k = 0;
    for (std::size_t r = 1; r <= idx.size(); ++r)
        if (p[idx[r - 1]] <= static_cast<double>(r) * q / m)
            k = r;
    std::vector<bool> found(p.size(), false);
    for (std::size_t r = 0; r < k; ++r)
        found[idx[r]] = true;
    return found;
}

dendrogram upgma(const std::vector<std::vector<double>>& d)
{
    const int n = static_cast<int>(d.size());
    dendrogram t;
    if (n == 0)
        return t;
    // Active clusters: node id, size, and distances between clusters by slot.
    std::vector<int> node(n), size(n, 1);
    std::vector<std::vector<double>> dist = d;
    std::vector<bool> alive(n, true);
    for (int i = 0; i < n; ++i)
        node[i] = i;
    for (int step = 0; step < n - 1; ++step) {
        int bi = -1, bj = -1;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (alive[i] && alive[j] && (bi < 0 || dist[i][j] < dist[bi][bj]))
                    bi = i, bj = j;
        t.merges.push_back({node[bi], node[bj], dist[bi][bj]});
        // The mean distance between leaves: sizes weigh the two joined clusters.
        for (int k = 0; k < n; ++k)
            if (alive[k] && k != bi && k != bj)
                dist[bi][k] = dist[k][bi] =
                    (size[bi] * dist[bi][k] + size[bj] * dist[bj][k]) / (size[bi] + size[bj]);
        size[bi] += size[bj];
        node[bi] = n + step;
        alive[bj] = false;
    }
    // Leaf order: depth first, the branch holding the earlier leaf first.
    std::vector<int> first(2 * n - 1);
    for (int i = 0; i < n; ++i)
        first[i] = i;
    for (int m = 0; m < n - 1; ++m)
        first[n + m] = std::min(first[t.merges[m].a], first[t.merges[m].b]);
    std::vector<int> stack{2 * n - 2};
    while (!stack.empty()) {
        const int v = stack.back();
        stack.pop_back();
        if (v < n) {
            t.order.push_back(v);
            continue;
        }
        int a = t.merges[v - n].a, b = t.merges[v - n].b;
        if (first[b] < first[a])
            std::swap(a, b);
        stack.push_back(b);
        stack.push_back(a);
    }
    return t;
}

bool parsespan(const std::string& name, span& out)
{
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::size_t dash = name.find('-', colon + 1);
    if (dash == std::string::npos)
        return false;
    auto whole = [](const std::string& t, long long& v) {
        if (t.empty() || t.size() > 15 ||
            !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        v = std::stoll(t);
        return true;
    };
    span s{name.substr(0, colon)};
    if (!whole(name.substr(colon + 1, dash - colon - 1), s.start) || !whole(name.substr(dash + 1), s.end) ||
        s.end < s.start)
        return false;
    out = s;
    return true;
}

std::string plotstem(const std::string& file, std::set<std::string>& used)
{
    std::string stem = file == "-" ? "stdin" : std::filesystem::path(file).stem().string();
    if (stem.empty() || stem == "." || stem == "..")
        stem = "input";
    std::string name = stem;
    for (int k = 2; used.count(name) > 0; ++k)
        name = stem + "_" + std::to_string(k);
    used.insert(name);
    return name;
}

std::vector<plot> plots(const analysed& a, const settings& s)
{
    std::vector<plot> out{{"profile", profileplot(a, s)}};
    auto has = [&](const char* scope) {
        return std::any_of(a.results.begin(), a.results.end(),
                           [&](const result& e) { return e.scope == scope; });
    };
    if (has("locus"))
        out.push_back({"loci", lociplot(a, s)});
    if (has("pair"))
        out.push_back({"pairs", pairsplot(a)});
    if (has("window"))
        out.push_back({"scan", scanplot(a)});
    std::erase_if(out, [](const plot& p) { return p.svg.empty(); });  // results that do not fit the plot
    return out;
}

std::string writeplots(const std::string& dir, const std::string& stem, const analysed& a, const settings& s)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return dir + ": could not make the folder: " + ec.message();
    for (const plot& p : plots(a, s)) {
        const std::string path = (std::filesystem::path(dir) / (stem + "-" + p.kind + ".svg")).string();
        std::ofstream out(path, std::ios::binary);
        out << p.svg;
        out.close();
        if (!out)
            return path + ": could not write the plot";
    }
    return "";
}

std::string profileplot(const analysed& a, const settings& s)
{
    const result& g = a.results.front();  // the global estimate comes first
    const problem pr = wholeproblem(a.in.table, allpops(a.in.table));
    const double drop = 0.5 * chisq1quantile(s.level);
    const std::string pct = sig(100 * s.level) + "%";

    // The highest log-likelihood: at the estimate, or its limit at the end
    // of the range where theta lies.
    long double best = 0;
    const bool curve = g.where == fitend::root || g.where == fitend::above || g.where == fitend::below;
    if (g.where == fitend::root)
        best = loglik(g.theta, pr);
    else if (g.where == fitend::above)
        best = loglikinf(pr);
    else if (g.where == fitend::below)
        best = loglik(LOWEST, pr);

    // Theta from a little below to a little above everything marked.
    std::vector<double> marks;
    if (g.where == fitend::root)
        marks.push_back(g.theta);
    for (const limit& e : {g.profile.low, g.profile.high, g.wald.low, g.wald.high})
        if (e.kind != limit::none)
            marks.push_back(e.kind == limit::value ? e.x : e.kind == limit::zero ? LOWEST : HIGHEST);
    if (g.where == fitend::above || g.where == fitend::below)
        marks.push_back(g.where == fitend::above ? HIGHEST : LOWEST);
    if (marks.empty())
        marks = {LOWEST, HIGHEST};
    const double l0 = std::log10(*std::min_element(marks.begin(), marks.end()));
    const double l1 = std::log10(*std::max_element(marks.begin(), marks.end()));
    const double pad = std::max(0.08, 0.3 * (l1 - l0));
    const double lo = std::max<double>(LOWEST, std::pow(10.0, l0 - pad));
    const double hi = std::min<double>(HIGHEST, std::pow(10.0, l1 + pad));

    const double W = 720, H = g.where == fitend::root ? 540 : 558, left = 78, right = W - 36, top = 82,
                 bottom = 392;
    const axis x{lo, hi, left, right, true};
    const axis y{-3 * drop, 0.15 * drop, bottom, top};

    std::string o = head(W, H, "Profile log-likelihood of theta, " + filetitle(a));
    o += "<!-- x axis: " + x.data() + "; y axis: " + y.data() + " -->\n";
    o += text(W / 2, 22, "Profile log-likelihood of θ: " + filetitle(a),
              "text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\"");
    o += "<defs><clipPath id=\"area\">" + rect(left, top, right - left, bottom - top, "") +
         "</clipPath></defs>\n";

    // The profile interval as a band, the Wald interval as a bar.
    auto clampx = [&](const limit& e, double fallback) {
        return e.kind == limit::value      ? std::clamp(x.at(std::clamp(e.x, lo, hi)), left, right)
               : e.kind == limit::zero     ? left
               : e.kind == limit::infinite ? right
                                           : fallback;
    };
    const bool band = g.profile.low.kind != limit::none && g.profile.high.kind != limit::none;
    if (band)
        o += rect(clampx(g.profile.low, left), top,
                  clampx(g.profile.high, right) - clampx(g.profile.low, left), bottom - top,
                  "fill=\"#c6dbef\"");
    for (const double v : multiples(-3 * drop, 0, nicestep(3 * drop, 6)))
        o += line(left, y.at(v), right, y.at(v), "stroke=\"#e4e4e4\"");
    o += rect(left, top, right - left, bottom - top, "fill=\"none\" stroke=\"#888\"");

    // theta on the bottom axis, F_ST = 1/(1 + theta) on the top one.
    std::vector<double> cand = powers(lo, hi, {1.0});
    for (const double v : multiples(lo, hi, nicestep(hi - lo, 12)))
        cand.push_back(v);
    for (const double v : powers(lo, hi, {2.0, 5.0}))
        cand.push_back(v);
    const auto px = [&](double v) { return x.at(v); };
    o += xticks(x, bottom, placeticks(cand, lo, hi, 46, px));
    const double f0 = 1 / (1 + hi), f1 = 1 / (1 + lo);
    cand = multiples(f0, f1, nicestep(f1 - f0, 12));
    for (const double v : powers(f0, 1, {1.0, 2.0, 5.0}))
        cand.push_back(v);
    for (const double v : {0.9, 0.99, 0.999})
        cand.push_back(v);
    const auto pf = [&](double f) { return x.at(1 / f - 1); };
    std::erase_if(cand, [](double f) { return !(f > 0 && f < 1); });
    o += xticks(x, top, placeticks(cand, f0, f1, 46, pf), true, pf);
    o += yticks(y, left, multiples(-3 * drop, 0, nicestep(3 * drop, 6)));

    o += text((left + right) / 2, bottom + 40, "θ (log scale)", "text-anchor=\"middle\" font-size=\"13\"");
    o += text((left + right) / 2, top - 30, rich("F_ST = 1/(1 + θ)", 13),
              "text-anchor=\"middle\" font-size=\"13\"");
    o += text(22, (top + bottom) / 2, "log-likelihood − its maximum",
              "text-anchor=\"middle\" font-size=\"13\" transform=\"rotate(-90 22 " + num((top + bottom) / 2) +
                  ")\"");

    // The cut-off, the curve, the estimate.
    o += line(left, y.at(-drop), right, y.at(-drop), "stroke=\"#555\" stroke-dasharray=\"6 4\"");
    o += text(right - 6, y.at(-drop) - 6, pct + " cut-off", "text-anchor=\"end\" fill=\"#555\"");
    std::string body = "<g clip-path=\"url(#area)\" data-x=\"" + x.data() + "\">\n";
    if (curve) {
        body += "<polyline fill=\"none\" stroke=\"#08306b\" stroke-width=\"2\" points=\"";
        const int n = 120;  // each point a pass over the table; the curve is smooth at this step
        for (int i = 0; i <= n; ++i) {
            const double t = std::pow(10.0, std::log10(lo) + (std::log10(hi) - std::log10(lo)) * i / n);
            const double v = static_cast<double>(loglik(t, pr) - best);
            if (i > 0)
                body += ' ';
            body += num(x.at(t)) + "," + num(y.at(std::max(v, -100 * drop)));
        }
        body += "\"/>\n";
    }
    const double wy = y.at(-2.5 * drop);
    if (g.wald.low.kind == limit::value) {
        const double w0 = clampx(g.wald.low, left), w1 = clampx(g.wald.high, right);
        body += line(w0, wy, w1, wy, "stroke=\"#a63603\" stroke-width=\"2\"");
        body += line(w0, wy - 6, w0, wy + 6, "stroke=\"#a63603\" stroke-width=\"2\"");
        body += line(w1, wy - 6, w1, wy + 6, "stroke=\"#a63603\" stroke-width=\"2\"");
    }
    if (g.where == fitend::root)
        body += line(x.at(g.theta), top, x.at(g.theta), bottom,
                     "stroke=\"#222\" stroke-width=\"1.5\" data-theta=\"" + doubletext(g.theta) + "\"");
    o += body + "</g>\n";
    if (!curve)
        o += text((left + right) / 2, (top + bottom) / 2, "no estimate: " + svgtext(g.note),
                  "text-anchor=\"middle\" font-size=\"13\"");

    // The legend, under the plot.
    double ly = bottom + 66;
    const double c2 = left + (right - left) / 2;
    o += line(left, ly, left + 24, ly, "stroke=\"#08306b\" stroke-width=\"2\"");
    o += legendtext(left, ly, "profile log-likelihood");
    if (g.where == fitend::root) {
        o += line(c2 + 12, ly - 7, c2 + 12, ly + 7, "stroke=\"#222\" stroke-width=\"1.5\"");
        o += legendtext(c2, ly, "estimate θ " + sig(g.theta, 4) + ", F_ST " + sig(fstvalue(g), 4));
    } else {
        o += legendtext(c2, ly,
                        g.where == fitend::above   ? "no estimate: θ above 10000"
                        : g.where == fitend::below ? "no estimate: θ below 0.00001"
                                                   : "no estimate");
    }
    ly += 22;
    if (band) {
        o += rect(left, ly - 7, 24, 14, "fill=\"#c6dbef\"");
        o += legendtext(left, ly,
                        pct + " profile interval: θ " + endwords(g.profile.low, 4) + " to " +
                            endwords(g.profile.high, 4));
    }
    if (g.wald.low.kind == limit::value) {
        o += line(c2, ly, c2 + 24, ly, "stroke=\"#a63603\" stroke-width=\"2\"");
        o += line(c2, ly - 6, c2, ly + 6, "stroke=\"#a63603\" stroke-width=\"2\"");
        o += line(c2 + 24, ly - 6, c2 + 24, ly + 6, "stroke=\"#a63603\" stroke-width=\"2\"");
        o += legendtext(
            c2, ly, pct + " Wald interval (log θ): " + sig(g.wald.low.x, 4) + " to " + sig(g.wald.high.x, 4));
    }
    ly += 22;
    o += line(left, ly, left + 24, ly, "stroke=\"#555\" stroke-dasharray=\"6 4\"");
    char cut[120];
    std::snprintf(cut, sizeof cut, "cut-off: %.4g below the maximum, half the chi-square(1) %s quantile",
                  drop, pct.c_str());
    o += legendtext(left, ly, cut);
    ly += 26;
    const counts& c = a.in.table;
    o += text(left, ly,
              std::to_string(c.npops()) + " populations, " + std::to_string(c.nloci()) + " loci, " +
                  std::to_string(g.genes) + " genes; log-likelihood in natural-log units",
              "fill=\"#555\"");
    if (g.where != fitend::root)
        o += text(left, ly + 18, "no estimate: " + svgtext(g.note), "fill=\"#555\"");
    return o + "</svg>\n";
}

std::string lociplot(const analysed& a, const settings& s)
{
    const result& g = a.results.front();
    std::vector<const result*> loci;
    for (const result& e : a.results)
        if (e.scope == "locus")
            loci.push_back(&e);
    const std::size_t n = loci.size();
    std::vector<double> p(n);
    std::size_t tested = 0;
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = loci[i]->tested ? loci[i]->p : NaN;
        tested += loci[i]->tested;
    }
    const double fdr = 0.05;
    const std::vector<bool> found = discoveries(p, fdr);
    // Highest F_ST first; loci without one last, in the input's order.
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) {
        const double fi = fstvalue(*loci[i]), fj = fstvalue(*loci[j]);
        return std::isnan(fj) ? !std::isnan(fi) : fi > fj;
    });

    // Many loci: thin rows without names (the TSV has them).
    const bool dense = n > 150;
    const double rowh = dense ? std::max(1.0, 1500.0 / static_cast<double>(n)) : 18;
    // Points of a few pixels show no hole: there the loci not significant are drawn lighter.
    const std::string yes =
        dense ? "fill=\"#08306b\"" : "fill=\"#08306b\" stroke=\"#08306b\" stroke-width=\"1.5\"";
    const std::string no =
        dense ? "fill=\"#4f9bd0\"" : "fill=\"#fff\" stroke=\"#08306b\" stroke-width=\"1.5\"";
    const std::size_t namelen = 24;
    double namew = 40;
    if (!dense)
        for (const result* e : loci)
            namew = std::max(namew, textwidth(shorten(e->name, namelen), 12));
    const double W = 760, valuew = dense ? 0 : 190;
    const double left = 16 + namew + 14, right = W - 20 - valuew, top = 72;
    const double bottom = top + static_cast<double>(n) * rowh + 6;

    double fmax = fstvalue(g) > 0 ? fstvalue(g) : 0;
    for (const result* e : loci) {
        const auto [f0, f1] = fstrange(e->profile);
        for (const double f : {fstvalue(*e), f0, f1})
            if (!std::isnan(f))
                fmax = std::max(fmax, f);
    }
    const auto [g0, g1] = fstrange(g.profile);
    if (!std::isnan(g1))
        fmax = std::max(fmax, g1);
    const double step = nicestep(fmax > 0 ? fmax : 0.1, 6);
    const axis x{0, std::min(1.0, std::ceil(fmax / step - 1e-9) * step + (fmax > 0 ? 0 : step)), left, right};

    std::string pctlevel = sig(100 * s.level) + "%";
    std::vector<std::string> caption = wrap(
        "Each locus alone, against the pooled frequencies of all populations. Bars: " + pctlevel +
            " profile-likelihood intervals. Dark points: the test of no differentiation is significant after "
            "the Benjamini-Hochberg correction at false discovery rate 0.05 over the " +
            std::to_string(tested) + " loci tested; " + (dense ? "lighter" : "open") + ": not significant." +
            (dense ? " Locus names are left out at this many loci: the TSV output (--tsv) lists them." : ""),
        104);
    const double H = bottom + 58 + 22 + 16.0 * static_cast<double>(caption.size()) + 10;

    std::string o = head(W, H, "F_ST of each locus, " + filetitle(a));
    o += "<!-- x axis: " + x.data() + " -->\n";
    o += text(W / 2, 22, rich("F_ST of each locus: " + filetitle(a)),
              "text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\"");
    const std::vector<double> ticks = multiples(0, x.v1, step);
    for (const double v : ticks)
        o += line(x.at(v), top, x.at(v), bottom, "stroke=\"#e4e4e4\"");
    // All loci together: a band for the interval, a dashed line at the estimate.
    if (!std::isnan(g0) && !std::isnan(g1))
        o += rect(x.at(g0), top, x.at(g1) - x.at(g0), bottom - top, "fill=\"#dfe7f0\"");
    if (!std::isnan(fstvalue(g))) {
        o += line(x.at(fstvalue(g)), top - 4, x.at(fstvalue(g)), bottom,
                  "stroke=\"#555\" stroke-dasharray=\"5 3\" stroke-width=\"1.5\"");
        // Over the line, kept clear of the column heads.
        const std::string words = "all loci " + fstwords(g);
        const double half = textwidth(words, 12) / 2;
        o += text(std::clamp(x.at(fstvalue(g)), left + half, std::max(left + half, right - half)), top - 8,
                  words, "text-anchor=\"middle\"");
    }
    if (!dense) {
        o += text(16, top - 8, "locus", "font-weight=\"bold\"");
        o += text(W - 20, top - 8, rich("F_ST [" + pctlevel + " interval]"),
                  "text-anchor=\"end\" font-weight=\"bold\"");
    }

    o += "<g data-x=\"" + x.data() + "\">\n";
    for (std::size_t r = 0; r < n; ++r) {
        const result& e = *loci[order[r]];
        const double cy = top + 3 + (static_cast<double>(r) + 0.5) * rowh;
        const double f = fstvalue(e);
        const auto [f0, f1] = fstrange(e.profile);
        if (!dense)
            o += text(16, cy + 4, namelabel(e.name, namelen));
        if (!std::isnan(f0) && !std::isnan(f1))
            o += line(x.at(f0), cy, x.at(f1), cy,
                      std::string("stroke=\"") + (dense ? "#d4d4d4" : "#333") + "\" stroke-width=\"" +
                          num(std::min(1.5, rowh / 3)) + "\"");
        if (!std::isnan(f)) {
            const double rad = std::min(4.5, std::max(1.5, rowh / 2.5));
            o += "<circle cx=\"" + num(x.at(f)) + "\" cy=\"" + num(cy) + "\" r=\"" + num(rad) + "\" " +
                 (found[order[r]] ? yes : no) + " data-locus=\"" + svgtext(e.name) + "\" data-fst=\"" +
                 doubletext(f) + "\"><title>" + svgtext(e.name) + ": F_ST " + sig(f) + ", p " + sig(e.p) +
                 "</title></circle>\n";
        }
        if (dense)
            continue;
        std::string value = e.where == fitend::root    ? sig(f)
                            : e.where == fitend::above ? "θ above 10000"
                            : e.where == fitend::below ? "θ below 0.00001"
                                                       : "no estimate";
        if (!std::isnan(f0) && !std::isnan(f1))
            value += " [" + sig(f0) + ", " + sig(f1) + "]";
        o += text(W - 20, cy + 4, value, "text-anchor=\"end\"");
    }
    o += "</g>\n";
    o += xticks(x, bottom, ticks);
    o += text((left + right) / 2, bottom + 38, rich("F_ST = 1/(1 + θ)", 13),
              "text-anchor=\"middle\" font-size=\"13\"");

    // Legend and caption.
    double ly = bottom + 62;
    o += "<circle cx=\"28\" cy=\"" + num(ly) + "\" r=\"4.5\" " + yes + "/>\n";
    o += text(40, ly + 4, "significant");
    o += "<circle cx=\"138\" cy=\"" + num(ly) + "\" r=\"4.5\" " + no + "/>\n";
    o += text(150, ly + 4, "not significant");
    o += rect(268, ly - 7, 24, 14, "fill=\"#dfe7f0\"");
    o += line(280, ly - 7, 280, ly + 7, "stroke=\"#555\" stroke-dasharray=\"5 3\" stroke-width=\"1.5\"");
    o += text(300, ly + 4,
              rich("all loci together: F_ST " + fstwords(g) +
                   (std::isnan(g0) ? "" : ", " + pctlevel + " interval " + sig(g0) + " to " + sig(g1))));
    ly += 24;
    for (const std::string& l : caption) {
        o += text(16, ly, l, "fill=\"#444\"");
        ly += 16;
    }
    return o + "</svg>\n";
}

std::string pairsplot(const analysed& a)
{
    const counts& c = a.in.table;
    const int n = c.npops();
    // The pairs come in the order analyse makes them: (0,1), (0,2), ... (1,2), ...
    std::vector<std::vector<double>> f(n, std::vector<double>(n, 0.0));
    std::vector<std::vector<const result*>> row(n, std::vector<const result*>(n, nullptr));
    auto next = a.results.begin();
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            next = std::find_if(next, a.results.end(), [](const result& e) { return e.scope == "pair"; });
            if (next == a.results.end())
                return "";
            row[i][j] = row[j][i] = &*next;
            f[i][j] = f[j][i] = fstvalue(*next++);
        }

    // Clustering distances: F_ST, a missing one taken as the mean of the others.
    double sum = 0, fmax = 0;
    int have = 0;
    bool missing = false;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            missing = missing || std::isnan(f[i][j]);
            if (!std::isnan(f[i][j]))
                sum += f[i][j], fmax = std::max(fmax, f[i][j]), ++have;
        }
    std::vector<std::vector<double>> d = f;
    for (auto& r : d)
        for (double& v : r)
            if (std::isnan(v))
                v = have ? sum / have : 0.0;
    const dendrogram tree = upgma(d);
    std::vector<int> pos(n);
    for (int k = 0; k < n; ++k)
        pos[tree.order[k]] = k;

    const std::size_t namelen = 20;
    double namew = 30;
    for (const std::string& name : c.popnames)
        namew = std::max(namew, textwidth(shorten(name, namelen), 11));
    const double cell = std::clamp(560.0 / n, 7.5, 40.0);  // names stay readable
    const double grid = cell * n, x0 = 16 + namew + 6, treeh = 90, y0 = 50 + treeh + 6;
    const double step = nicestep(fmax > 0 ? fmax : 0.01, 5);
    const double smax = fmax > 0 ? std::ceil(fmax / step - 1e-9) * step : step;
    const double barx = x0 + grid + 28, barh = std::min(std::max(grid, 160.0), 300.0);
    const double W = std::max(barx + 90, 560.0);
    std::vector<std::string> caption = wrap(
        "Populations ordered by average-linkage (UPGMA) clustering on pairwise F_ST; the tree above joins "
        "groups at the mean F_ST between them, the branch holding the population that comes first in the "
        "file "
        "drawn first. Each pair's F_ST is estimated with frequencies pooled over the two.",
        static_cast<std::size_t>((W - 32) / 7));
    const double below = std::max(grid + namew + 22, barh + 56);  // from the grid's top to the caption
    const double H = y0 + below + 16.0 * static_cast<double>(caption.size()) + 4;
    const axis scale{0, smax, y0 + barh, y0};

    std::string o = head(W, H, "Pairwise F_ST, " + filetitle(a));
    o += "<!-- colour scale: 0 to " + doubletext(smax) +
         ", viridis reversed (light: low F_ST, dark: high) -->\n";
    o += text(W / 2, 22, rich("Pairwise F_ST: " + filetitle(a) + " (" + std::to_string(n) + " populations)"),
              "text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\"");

    // The tree: leaves at the top of the grid, joins higher as they are farther.
    std::vector<double> nx(2 * n - 1), ny(2 * n - 1);
    double hmax = 0;
    for (const auto& m : tree.merges)
        hmax = std::max(hmax, m.h);
    for (int i = 0; i < n; ++i)
        nx[i] = x0 + (pos[i] + 0.5) * cell, ny[i] = y0 - 4;
    std::string path;
    for (std::size_t m = 0; m < tree.merges.size(); ++m) {
        const auto& j = tree.merges[m];
        const int v = n + static_cast<int>(m);
        nx[v] = (nx[j.a] + nx[j.b]) / 2;
        ny[v] = y0 - 4 - (hmax > 0 ? j.h / hmax : 0) * (treeh - 8);
        path += "M" + num(nx[j.a]) + " " + num(ny[j.a]) + "V" + num(ny[v]) + "H" + num(nx[j.b]) + "V" +
                num(ny[j.b]);
    }
    if (!path.empty())
        o += "<path d=\"" + path + "\" fill=\"none\" stroke=\"#555\"/>\n";

    // The cells: light for low F_ST, dark for high; a cross where there is no estimate.
    const bool numbers = cell >= 30;
    const double fs = std::min(10.0, cell / 3.4);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double cx = x0 + pos[j] * cell, cy = y0 + pos[i] * cell, v = f[i][j];
            if (i == j) {
                o += rect(cx, cy, cell, cell,
                          "fill=\"" + viridis(1) + "\" stroke=\"#fff\" stroke-width=\"0.5\"");
                continue;
            }
            const std::string who = svgtext(c.popnames[i]) + " and " + svgtext(c.popnames[j]);
            if (std::isnan(v)) {
                o += rect(cx, cy, cell, cell, "fill=\"#fff\" stroke=\"#999\" stroke-width=\"0.5\"");
                o += "<path d=\"M" + num(cx + 2) + " " + num(cy + 2) + "L" + num(cx + cell - 2) + " " +
                     num(cy + cell - 2) + "M" + num(cx + cell - 2) + " " + num(cy + 2) + "L" + num(cx + 2) +
                     " " + num(cy + cell - 2) + "\" stroke=\"#666\"><title>" + who +
                     ": no estimate</title></path>\n";
                continue;
            }
            const double t = std::min(1.0, v / smax);
            o += "<rect x=\"" + num(cx) + "\" y=\"" + num(cy) + "\" width=\"" + num(cell) + "\" height=\"" +
                 num(cell) + "\" fill=\"" + viridis(1 - t) +
                 "\" stroke=\"#fff\" stroke-width=\"0.5\" data-fst=\"" + doubletext(v) + "\"><title>" + who +
                 ": F_ST " + fstwords(*row[i][j]) + "</title></rect>\n";
            if (numbers) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%.3f", v);
                o += text(cx + cell / 2, cy + cell / 2 + fs * 0.35, buf,
                          "text-anchor=\"middle\" font-size=\"" + num(fs) + "\" fill=\"" +
                              (t > 0.45 ? "#fff" : "#222") + "\"");
            }
        }

    // Names: rows on the left, columns below, read upwards.
    const double fsn = std::min(11.0, std::max(6.0, cell * 0.8));
    for (int i = 0; i < n; ++i) {
        const std::string name = namelabel(c.popnames[i], namelen);
        const double mid = (pos[i] + 0.5) * cell;
        o += text(x0 - 5, y0 + mid + fsn * 0.35, name, "text-anchor=\"end\" font-size=\"" + num(fsn) + "\"");
        const double lx = x0 + mid + fsn * 0.35, ly = y0 + grid + 5;
        o += text(lx, ly, name,
                  "text-anchor=\"end\" font-size=\"" + num(fsn) + "\" transform=\"rotate(-90 " + num(lx) +
                      " " + num(ly) + ")\"");
    }

    // The colour scale.
    o += text(barx, y0 - 10, rich("F_ST"), "font-weight=\"bold\"");
    o += "<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
    for (int k = 0; k <= 8; ++k)
        o += "<stop offset=\"" + num(k / 8.0) + "\" stop-color=\"" + viridis(1 - k / 8.0) + "\"/>";
    o += "</linearGradient></defs>\n";
    o += rect(barx, y0, 16, barh, "fill=\"url(#scale)\" stroke=\"#888\"");
    for (const double v : multiples(0, smax, step)) {
        o += line(barx + 16, scale.at(v), barx + 21, scale.at(v), "stroke=\"#444\"");
        o += text(barx + 24, scale.at(v) + 4, ticktext(v));
    }
    if (missing) {
        const double my = y0 + barh + 16;
        o += rect(barx, my, 16, 16, "fill=\"#fff\" stroke=\"#999\"");
        o += line(barx + 2, my + 2, barx + 14, my + 14, "stroke=\"#666\"") +
             line(barx + 14, my + 2, barx + 2, my + 14, "stroke=\"#666\"");
        o += text(barx + 22, my + 12, "no estimate");
    }

    double ly = y0 + below;
    for (const std::string& l : caption) {
        o += text(16, ly, rich(l), "fill=\"#444\"");
        ly += 16;
    }
    return o + "</svg>\n";
}

std::string scanplot(const analysed& a)
{
    // Chromosomes in the order first met, each spanning its windows.
    struct chrom {
        std::string name;
        long long lo = 0, hi = 0;
        double off = 0;
    };
    struct point {
        std::size_t chrom;
        double mid, f;
    };
    std::vector<chrom> chroms;
    std::map<std::string, std::size_t> index;
    std::vector<point> pts;
    std::size_t without = 0, above = 0, below = 0;
    for (const result& e : a.results) {
        span w;
        if (e.scope != "window")
            continue;
        if (!parsespan(e.name, w)) {
            ++without;
            continue;
        }
        auto [it, fresh] = index.emplace(w.chrom, chroms.size());
        if (fresh)
            chroms.push_back({w.chrom, w.start, w.end});
        chrom& ch = chroms[it->second];
        ch.lo = std::min(ch.lo, w.start);
        ch.hi = std::max(ch.hi, w.end);
        above += e.where == fitend::above;
        below += e.where == fitend::below;
        if (std::isnan(fstvalue(e)))
            ++without;
        else
            pts.push_back({it->second, 0.5 * static_cast<double>(w.start + w.end), fstvalue(e)});
    }
    double total = 0;
    for (const chrom& ch : chroms)
        total += static_cast<double>(ch.hi - ch.lo + 1);
    const double gap = chroms.size() > 1 ? 0.012 * total : 0;
    double at = 0;
    for (chrom& ch : chroms) {
        ch.off = at - static_cast<double>(ch.lo);
        at += static_cast<double>(ch.hi - ch.lo + 1) + gap;
    }
    const double extent = std::max(1.0, at - gap);

    const result& g = a.results.front();
    double fmax = std::isnan(fstvalue(g)) ? 0 : fstvalue(g);
    for (const point& p : pts)
        fmax = std::max(fmax, p.f);
    const double step = nicestep(fmax > 0 ? fmax : 0.1, 5);
    const double W = 900, H = 380, left = 72, right = W - 20, top = 50, bottom = H - 90;
    const axis x{0, extent, left, right};
    // Room above the highest point.
    const axis y{0, std::min(1.0, std::ceil(1.04 * fmax / step) * step + (fmax > 0 ? 0 : step)), bottom, top};

    std::string o = head(W, H, "Genome scan of F_ST, " + filetitle(a));
    o += "<!-- x axis: " + x.data() +
         " (position from the left end, chromosomes side by side); y axis: " + y.data() + " -->\n";
    o += text(W / 2, 22, rich("F_ST along the genome: " + filetitle(a)),
              "text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\"");
    // Alternate chromosomes on a grey band, their windows in a lighter shade.
    for (std::size_t k = 0; k < chroms.size(); ++k)
        if (k % 2 == 1) {
            const chrom& ch = chroms[k];
            o += rect(x.at(ch.off + static_cast<double>(ch.lo)), top,
                      x.at(ch.off + static_cast<double>(ch.hi)) - x.at(ch.off + static_cast<double>(ch.lo)),
                      bottom - top, "fill=\"#eeeeee\"");
        }
    const std::vector<double> yt = multiples(0, y.v0 + (y.v1 - y.v0), step);
    for (const double v : yt)
        o += line(left, y.at(v), right, y.at(v), "stroke=\"#ddd\" stroke-width=\"0.7\"");
    o += yticks(y, left, yt);

    const double r = pts.size() > 20000 ? 1.2 : pts.size() > 2000 ? 1.8 : 2.6;
    for (const int shade : {0, 1}) {
        o += std::string("<g fill=\"") + (shade ? "#6baed6" : "#08306b") + "\">\n";
        for (const point& p : pts)
            if (static_cast<int>(p.chrom % 2) == shade)
                o += "<circle cx=\"" + num(x.at(chroms[p.chrom].off + p.mid)) + "\" cy=\"" + num(y.at(p.f)) +
                     "\" r=\"" + num(r) + "\"/>\n";
        o += "</g>\n";
    }
    if (!std::isnan(fstvalue(g))) {
        o += line(left, y.at(fstvalue(g)), right, y.at(fstvalue(g)),
                  "stroke=\"#a63603\" stroke-dasharray=\"6 4\" stroke-width=\"1.5\"");
        // Its key above the plot, clear of the points.
        const std::string key = "all sites together: F_ST " + fstwords(g);
        const double kx = right - textwidth(key, 12);
        o += line(kx - 34, top - 12, kx - 8, top - 12,
                  "stroke=\"#a63603\" stroke-dasharray=\"6 4\" stroke-width=\"1.5\"");
        o += text(right, top - 8, rich(key), "text-anchor=\"end\"");
    }
    o += line(left, bottom, right, bottom, "stroke=\"#444\"");

    // Ticks at a round number of bases inside each chromosome; names under
    // the chromosomes wide enough to hold a few letters.
    const double tstep = nicestep(extent, chroms.size() > 1 ? 24 : 8);
    const double unit = tstep >= 1e6 ? 1e6 : tstep >= 1e3 ? 1e3 : 1;
    const std::string uname = unit == 1e6 ? "Mb" : unit == 1e3 ? "kb" : "bp";
    std::size_t unnamed = 0;
    for (std::size_t k = 0; k < chroms.size(); ++k) {
        const chrom& ch = chroms[k];
        for (const double v : multiples(static_cast<double>(ch.lo), static_cast<double>(ch.hi), tstep)) {
            const double tx = x.at(ch.off + v);
            o += line(tx, bottom, tx, bottom + 4, "stroke=\"#444\"");
            if (chroms.size() == 1)
                o += text(tx, bottom + 17, ticktext(v / unit), "text-anchor=\"middle\"");
        }
        if (chroms.size() > 1) {
            const double w =
                x.at(ch.off + static_cast<double>(ch.hi)) - x.at(ch.off + static_cast<double>(ch.lo));
            const auto fit = static_cast<std::size_t>(std::max(0.0, (w + 6) / (0.62 * 11)));
            if (fit < 2) {
                ++unnamed;
                continue;
            }
            const double cx = x.at(ch.off + 0.5 * static_cast<double>(ch.lo + ch.hi));
            o += text(cx, bottom + 18, namelabel(ch.name, std::min<std::size_t>(fit, 16)),
                      "text-anchor=\"middle\" font-size=\"11\"");
        }
    }
    std::string xlabel =
        chroms.size() == 1
            ? "position on " + svgtext(shorten(chroms[0].name, 30)) + " (" + uname + ")"
            : "chromosomes side by side in file order, ticks every " + ticktext(tstep / unit) + " " + uname;
    o += text((left + right) / 2, bottom + 44, xlabel, "text-anchor=\"middle\" font-size=\"13\"");
    o += text(22, (top + bottom) / 2, rich("window F_ST", 13),
              "text-anchor=\"middle\" font-size=\"13\" transform=\"rotate(-90 22 " + num((top + bottom) / 2) +
                  ")\"");
    std::string note = std::to_string(pts.size()) + " windows, each at its midpoint";
    if (above > 0)
        note += "; " + std::to_string(above) + " with θ above 10000 at F_ST 0";
    if (below > 0)
        note += "; " + std::to_string(below) + " with θ below 0.00001 at F_ST 1";
    if (without > 0)
        note += "; " + std::to_string(without) + " without an estimate (no sites, no information) left out";
    if (unnamed > 0)
        note += "; " + std::to_string(unnamed) + " chromosomes too narrow to name";
    o += text(left, bottom + 70, rich(note + "."), "fill=\"#444\"");
    return o + "</svg>\n";
}
