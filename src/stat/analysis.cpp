#include "stat/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/estimate.h"

double normalquantile(double p)
{
    // Bisection on the normal lower tail 0.5 erfc(-z / sqrt 2), exact to the
    // last bits that matter. A run asks for one level again and again: the
    // last answer is kept.
    static double lastp = -1.0, lastz = 0.0;
    if (p == lastp)
        return lastz;
    double lo = -40.0, hi = 40.0;
    for (int i = 0; i < 200 && hi - lo > 1e-15 * std::max(1.0, std::fabs(lo)); ++i) {
        const double mid = 0.5 * (lo + hi);
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
    }
    lastp = p;
    lastz = 0.5 * (lo + hi);
    return lastz;
}

double chisq1quantile(double level)
{
    const double z = normalquantile(0.5 + 0.5 * level);
    return z * z;
}

double chisq1upper(double x)
{
    return x <= 0.0 ? 1.0 : std::erfc(std::sqrt(0.5 * x));
}

limit fstof(const limit& e)
{
    switch (e.kind) {
    case limit::value:
        return {limit::value, 1.0 / (1.0 + e.x)};
    case limit::zero:
        return {limit::value, 1.0};
    case limit::infinite:
        return {limit::value, 0.0};
    default:
        return {};
    }
}

namespace {

const double LOGLOW = std::log(static_cast<double>(LOWEST));
const double LOGHIGH = std::log(static_cast<double>(HIGHEST));

// The root next to 0 of the cubic through two points of g, each with its
// value and slope: (0, g0, s0) and (span, g1, s1). Newton's step from 0
// first, then Newton on the cubic; NaN when that does not settle.
double hermiteroot(double g0, double s0, double span, double g1, double s1)
{
    const double r1 = (g1 - g0 - s0 * span) / (span * span);
    const double r2 = (s1 - s0) / span;
    const double c3 = (r2 - 2.0 * r1) / span, c2 = 3.0 * r1 - r2;
    double h = -g0 / s0;
    for (int i = 0; i < 8; ++i) {
        const double step = (g0 + h * (s0 + h * (c2 + h * c3))) / (s0 + h * (2.0 * c2 + 3.0 * h * c3));
        h -= step;
        if (std::fabs(step) <= 1e-14 * std::fabs(h))
            return h;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// The log theta between u and far (either order) where the log-likelihood
// crosses target: it is drop above target at u, which is where it is
// highest, its slope 0, when peak is set (otherwise LOGLOW or LOGHIGH, the
// end of the range nearer to where it is highest); nothing when it is still
// at least target at far, the end of the search range (farv = exp far as
// the range gives it), so that the crossing lies beyond the range. The
// search starts from guess (or the middle when guess is not between u and
// far) and steps to the root of the cubic through the last two points, each
// with its value and slope (the first time, u and the guess), the slope of
// the log-likelihood in log theta being theta times the score; it is kept
// inside the bracket that every evaluation narrows, and a step that would
// leave it halves the bracket instead. A step h from a point span away from
// the one before leaves an error of about (h span)^2 times the
// log-likelihood's fourth derivative over 24 times its slope, and h times
// the slope's relative error. The search ends when a step inside the
// bracket leaves less than 1e-11 by that reckoning, taking the derivatives'
// ratio as at most 48 / d^3 at a distance d from u (the log-likelihood
// bends on the scale of the interval), or moves less than 1e-10, or less
// than 1e-7 and a hundredth of the step before it, or when the bracket is
// narrower than 1e-10. The log-likelihood at far is taken only when a step
// would leave the bracket before any point tried lay below target.
std::optional<double> crossing(engine& e, double u, double far, double farv, long double target, double guess,
                               double drop, bool peak)
{
    double a = u, b = far;
    bool below = false;  // whether the log-likelihood is known to lie below target at b
    const auto inside = [&](double x) { return (x - a) * (x - b) < 0.0; };
    double x = guess;
    double lastmove = std::numeric_limits<double>::infinity();  // the previous step's length
    // The point before x, its value and slope; at first u, where the slope
    // is 0 only when u is where the log-likelihood is highest.
    double px = u, pg = drop, ps = peak ? 0.0 : std::numeric_limits<double>::quiet_NaN();
    bool evaluated = false;  // whether px is a point the search evaluated
    if (!inside(x)) {
        if (loglik(e, farv) >= target)
            return std::nullopt;
        below = true;
        x = 0.5 * (a + b);
    }
    for (int step = 0;; ++step) {
        const double theta = std::exp(x);
        const long double g = loglik(e, theta) - target;
        if (g >= 0.0L) {
            a = x;
        } else {
            b = x;
            below = true;
        }
        if (below && std::fabs(b - a) <= 1e-10)
            break;
        // The slope steers the steps and tells when to stop: the fast sum
        // gives it to about 1e-12, and its bound how far it may be off.
        const auto t = static_cast<float>(theta);
        const fastsum f = fastscore(e, t);
        const double slope = theta * (std::isfinite(f.bound) ? f.value : static_cast<double>(exactsum(e, t)));
        const double off =
            std::isfinite(f.bound) ? f.bound / std::fabs(f.value) : 0.0;  // relative error, at most
        const auto gx = static_cast<double>(g);
        const double span = px - x;
        const double h = std::isfinite(ps) && span != 0.0 ? hermiteroot(gx, slope, span, pg, ps)
                                                          : std::numeric_limits<double>::quiet_NaN();
        double next = x + (std::isfinite(h) ? h : -gx / slope);
        const double moved = std::fabs(next - x), scale = std::fabs(x - u);
        const double left =
            std::isfinite(h) ? 2.0 * (moved * span) * (moved * span) / (scale * scale * scale) + off * moved
                             : std::numeric_limits<double>::infinity();
        if (inside(next) &&
            ((evaluated && left < 1e-11) || (below && moved < 1e-7 && moved < 0.01 * lastmove)))
            return std::exp(next);
        lastmove = moved;
        if (inside(next) && moved < 1e-10) {
            if (below)
                return std::exp(next);
            // Converged from inside the interval: one point just beyond
            // closes the bracket.
            next += std::copysign(2e-11, next - x);
        }
        if (!inside(next) || step >= 100) {
            if (!below) {
                if (loglik(e, farv) >= target)
                    return std::nullopt;
                below = true;
            }
            next = 0.5 * (a + b);
        }
        px = x;
        pg = gx;
        ps = slope;
        evaluated = true;
        x = next;
    }
    return std::exp(0.5 * (a + b));
}

// The profile-likelihood interval: where the log-likelihood lies at most
// drop below its highest value top, reached at log theta u (LOGLOW or
// LOGHIGH when the result lies beyond the range). w, when positive, is the
// half-width of the Wald interval on log theta: the first guess of each end.
interval profileof(engine& e, double u, long double top, double drop, double w = 0.0)
{
    const long double target = top - drop;
    const double none = std::numeric_limits<double>::quiet_NaN();
    interval in;
    if (u <= LOGLOW) {
        // The result lies below the range: the whole interval does too,
        // unless the log-likelihood at the lowest theta is within reach.
        in.low.kind = limit::zero;
        if (loglik(e, LOWEST) < target)
            in.high.kind = limit::zero;
        else if (const auto x = crossing(e, u, LOGHIGH, HIGHEST, target, none, drop, false))
            in.high = {limit::value, *x};
        else
            in.high.kind = limit::infinite;
        return in;
    }
    if (u >= LOGHIGH) {
        in.high.kind = limit::infinite;
        if (loglik(e, HIGHEST) < target)
            in.low.kind = limit::infinite;
        else if (const auto x = crossing(e, u, LOGLOW, LOWEST, target, none, drop, false))
            in.low = {limit::value, *x};
        else
            in.low.kind = limit::zero;
        return in;
    }
    if (const auto x = crossing(e, u, LOGLOW, LOWEST, target, w > 0.0 ? u - w : none, drop, true))
        in.low = {limit::value, *x};
    else
        in.low.kind = limit::zero;
    if (const auto x = crossing(e, u, LOGHIGH, HIGHEST, target, w > 0.0 ? u + w : none, drop, true))
        in.high = {limit::value, *x};
    else
        in.high.kind = limit::infinite;
    return in;
}

std::int64_t genesof(const problem& pr)
{
    // Locus by locus, the order of the table in memory.
    std::int64_t n = 0;
    for (std::size_t j = 0; j < pr.loci.size(); ++j) {
        const int l = pr.loci[j];
        std::int64_t locus = 0;
        for (const int p : pr.pops)
            for (int k = 0; k < pr.c->nalleles[l]; ++k)
                locus += pr.c->at(p, l)[k];
        n += locus * (pr.weight.empty() ? 1 : pr.weight[j]);
    }
    return n;
}

// en is arranged anew for the problem; one engine serves a run of
// estimates, so that its arrays are not allocated again for each.
result estimateof(const problem& pr, const settings& s, std::string scope, std::string name,
                  std::string name2, engine& en)
{
    result e;
    e.scope = std::move(scope);
    e.name = std::move(name);
    e.name2 = std::move(name2);
    e.populations = static_cast<int>(pr.pops.size());
    e.loci = static_cast<int>(pr.loci.size());
    e.genes = genesof(pr);

    prepare(en, pr);
    const fitresult f = fit(en);
    e.where = f.end;
    const double drop = 0.5 * chisq1quantile(s.level);
    const long double linf = loglikinf(pr);
    switch (f.end) {
    case fitend::root: {
        e.theta = f.theta;
        e.se =
            f.var > 0.0L ? static_cast<double>(std::sqrt(f.var)) : std::numeric_limits<double>::quiet_NaN();
        const long double top = loglik(en, f.theta);
        const double z = normalquantile(0.5 + 0.5 * s.level);
        const double t = f.theta, w = z * e.se / t;
        e.profile = profileof(en, std::log(t), top, drop, std::isfinite(w) ? w : 0.0);
        if (std::isfinite(e.se)) {
            e.wald = {{limit::value, t * std::exp(-w)}, {limit::value, t * std::exp(w)}};
        } else {
            e.note = "the information at the result is not positive: no standard error";
        }
        e.tested = true;
        e.lr = std::max(0.0, static_cast<double>(2.0L * (top - linf)));
        e.p = e.lr > 0.0 ? 0.5 * chisq1upper(e.lr) : 1.0;
        break;
    }
    case fitend::above:
        // The likelihood keeps rising towards multinomial sampling: its
        // highest value is the limit, and the test cannot reject.
        e.profile = profileof(en, LOGHIGH, linf, drop);
        e.tested = true;
        e.lr = 0.0;
        e.p = 1.0;
        e.note = "theta above 10000: no differentiation detectable";
        break;
    case fitend::below: {
        const long double top = loglik(en, LOWEST);
        e.profile = profileof(en, LOGLOW, top, drop);
        e.tested = true;
        e.lr = std::max(0.0, static_cast<double>(2.0L * (top - linf)));
        e.p = e.lr > 0.0 ? 0.5 * chisq1upper(e.lr) : 1.0;
        e.note = "theta below 0.00001: populations fixed for different alleles";
        break;
    }
    case fitend::flat:
        e.note = "no information: the score is 0 everywhere (a single allele, or no genes)";
        break;
    case fitend::stuck:
        e.note = "the search did not settle";
        break;
    }
    return e;
}

// The notes that say, for the data at hand, why nothing could be estimated.
void explain(result& e, const problem& pr)
{
    const counts& c = *pr.c;
    if (e.genes == 0) {
        e.note = "no genes";
        return;
    }
    if (e.scope == "all" && pr.pops.size() == 1 && e.where != fitend::root) {
        e.note = "one population: nothing to compare it with";
        return;
    }
    if (e.scope == "locus" && e.where == fitend::flat) {
        const int l = pr.loci[0];
        int seen = 0;
        for (int k = 0; k < c.nalleles[l]; ++k)
            seen += pr.freq[l][k] > 0.0f;
        if (seen <= 1)
            e.note = "monomorphic locus: no information";
    }
    if (e.scope == "pop" || e.scope == "pair") {
        int untyped = 0;
        for (const int p : pr.pops)
            for (const int l : pr.loci) {
                std::int64_t n = 0;
                for (int k = 0; k < c.nalleles[l]; ++k)
                    n += c.at(p, l)[k];
                untyped += n == 0;
            }
        if (untyped > 0) {
            const std::string what = std::to_string(untyped) + (untyped == 1 ? " locus" : " loci") +
                                     (e.scope == "pair" ? " of a population" : "") + " without genes";
            e.note = e.note.empty() ? what : e.note + "; " + what;
        }
    }
}

// SplitMix64: a 64-bit state advanced by a constant, each output mixed from it.
struct splitmix {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // A whole number below n: the top 53 bits as a fraction of 1, times n.
    int below(int n) { return static_cast<int>(static_cast<double>(next() >> 11) * 0x1.0p-53 * n); }
};

// Percentile interval of theta over replicates in which loci are drawn with
// replacement: each replicate draws nloci loci, one after the other.
interval bootstrapof(const problem& whole, const settings& s)
{
    splitmix rng{s.seed};
    problem pr = whole;
    const int nloci = static_cast<int>(whole.loci.size());
    std::vector<double> thetas;
    for (int r = 0; r < s.bootstrap; ++r) {
        pr.weight.assign(nloci, 0);
        for (int i = 0; i < nloci; ++i)
            ++pr.weight[rng.below(nloci)];
        const fitresult f = fit(pr, false);
        if (f.end == fitend::root)
            thetas.push_back(f.theta);
        else if (f.end == fitend::above)
            thetas.push_back(std::numeric_limits<double>::infinity());
        else if (f.end == fitend::below)
            thetas.push_back(0.0);
        // A replicate with no information leaves no theta.
    }
    interval in;
    if (thetas.empty())
        return in;
    std::sort(thetas.begin(), thetas.end());
    // The inverse of the empirical distribution: the smallest theta whose
    // share of replicates at or below it reaches the probability.
    auto at = [&](double prob) {
        const double rank = std::ceil(prob * static_cast<double>(thetas.size()));
        const std::size_t i =
            static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(thetas.size()))) - 1;
        const double t = thetas[i];
        return t == 0.0        ? limit{limit::zero, 0.0}
               : std::isinf(t) ? limit{limit::infinite, 0.0}
                               : limit{limit::value, t};
    };
    in.low = at(0.5 - 0.5 * s.level);
    in.high = at(0.5 + 0.5 * s.level);
    return in;
}

}  // namespace

hugevector<result> analyse(const counts& c, const settings& s)
{
    const std::size_t n = c.npops();
    const std::size_t total =
        1 + (s.perlocus ? c.nloci() : 0) + (s.perpop ? n : 0) + (s.pairwise ? n * (n - 1) / 2 : 0);
    hugevector<result> out;
    out.reserve(total);
    auto done = [&]() {
        if (s.progress)
            s.progress(out.size(), total);
    };
    const problem whole = wholeproblem(c, allpops(c));
    {
        // The whole table's engine is the largest: it is let go before the
        // smaller estimates share one.
        engine en;
        out.push_back(estimateof(whole, s, "all", "", "", en));
    }
    engine en;
    explain(out.back(), whole);
    if (s.bootstrap > 0)
        out.back().boot = bootstrapof(whole, s);
    done();

    if (s.perlocus) {
        problem pr = whole;  // the frequencies copied once for all the loci, not once per locus
        for (int l = 0; l < c.nloci(); ++l) {
            pr.loci = {l};
            out.push_back(estimateof(pr, s, "locus", c.locusnames[l], "", en));
            explain(out.back(), pr);
            done();
        }
    }
    if (s.perpop)
        for (int p = 0; p < c.npops(); ++p) {
            problem pr = whole;
            pr.pops = {p};
            out.push_back(estimateof(pr, s, "pop", c.popnames[p], "", en));
            explain(out.back(), pr);
            done();
        }
    if (s.pairwise)
        for (int a = 0; a < c.npops(); ++a)
            for (int b = a + 1; b < c.npops(); ++b) {
                const problem pr = wholeproblem(c, {a, b});
                out.push_back(estimateof(pr, s, "pair", c.popnames[a], c.popnames[b], en));
                explain(out.back(), pr);
                done();
            }
    return out;
}

result estimaterow(const problem& pr, const settings& s, const std::string& scope, const std::string& name,
                   engine& en)
{
    result e = estimateof(pr, s, scope, name, "", en);
    explain(e, pr);
    return e;
}

result estimaterow(const problem& pr, const settings& s, const std::string& scope, const std::string& name)
{
    engine en;
    return estimaterow(pr, s, scope, name, en);
}
