// Arlequin project files (.arp): a [Profile] section of KEY=VALUE settings,
// then [Data] with [[Samples]]: for each sample SampleName, SampleSize and
// SampleData={ ... }. Within the braces, each entry is an identifier, a
// frequency (how many individuals or gene copies share the entry) and the
// allele of every locus; with GenotypicData=1 the second alleles follow on
// a line of their own. Text after # is a comment. Read: DataType STANDARD,
// MICROSAT, DNA and RFLP, alleles separated as LocusSeparator says (NONE: one
// character per locus), MissingData as the missing allele.
#include <map>

#include "formats/text.h"

namespace formats {

namespace {

// Entries of frequency above one become that many individuals; when the
// copies beyond the first would hold more genes than this, the file is
// refused before it exhausts memory.
constexpr long MAXCOPIES = 20000000;

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The line without its comment: # outside quotes and on.
std::string_view uncomment(std::string_view line)
{
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0 && c == quote)
            quote = 0;
        else if (quote == 0 && (c == '"' || c == '\''))
            quote = c;
        else if (quote == 0 && c == '#')
            return line.substr(0, i);
    }
    return line;
}

struct setting {
    std::string key;         // lower case
    std::string_view value;  // quotes removed
    std::string_view rest;   // after "{" when the value opens a block
};

// KEY=VALUE pairs of a line; a value "{" opens a data block, the rest of the
// line following it.
std::vector<setting> settings(std::string_view t, int line)
{
    std::vector<setting> out;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < t.size() && white(t[i]))
            ++i;
    };
    while (true) {
        skip();
        if (i >= t.size())
            return out;
        const std::size_t k = i;
        while (i < t.size() && t[i] != '=' && !white(t[i]))
            ++i;
        setting s{lower(t.substr(k, i - k)), {}, {}};
        skip();
        if (i >= t.size() || t[i] != '=' || s.key.empty())
            throw inputerror(line, "expected KEY=VALUE, found " + quote(trim(t.substr(k))));
        ++i;
        skip();
        if (i < t.size() && (t[i] == '"' || t[i] == '\'')) {
            const std::size_t close = t.find(t[i], i + 1);
            if (close == std::string_view::npos)
                throw inputerror(line, "the value of " + quote(s.key) + " has no closing quote");
            s.value = t.substr(i + 1, close - i - 1);
            i = close + 1;
        } else if (i < t.size() && t[i] == '{') {
            s.value = t.substr(i, 1);
            s.rest = t.substr(i + 1);
            out.push_back(s);
            return out;
        } else {
            const std::size_t v = i;
            while (i < t.size() && !white(t[i]))
                ++i;
            s.value = t.substr(v, i - v);
        }
        out.push_back(s);
    }
}

class reader {
public:
    dataset data;

    void profile(const setting& s, int line)
    {
        if (s.key == "datatype")
            datatype = lower(s.value);
        else if (s.key == "genotypicdata")
            genotypic = s.value == "1";
        else if (s.key == "locusseparator")
            separator = lower(s.value);
        else if (s.key == "missingdata")
            missing = s.value;
        else if (s.key == "recessivedata" && s.value == "1")
            throw inputerror(line, "RecessiveData=1: recessive alleles are not read");
        else if (s.key == "nbsamples" && !number(s.value, nbsamples, false))
            throw inputerror(line, "NbSamples " + quote(s.value) + ": expected a number");
    }

    void checkprofile(int line)
    {
        if (datatype == "frequency")
            throw inputerror(line, "DataType=FREQUENCY: allele frequencies without individuals are not read");
        if (datatype != "standard" && datatype != "microsat" && datatype != "dna" && datatype != "rflp")
            throw inputerror(line, "DataType " + quote(datatype) +
                                       ": expected STANDARD, MICROSAT, DNA or RFLP in the [Profile] section");
        if (separator != "whitespace" && separator != "tab" && separator != "none" && separator.size() != 1)
            throw inputerror(line, "LocusSeparator " + quote(separator) +
                                       ": expected WHITESPACE, TAB, NONE or one character");
        data.format = "Arlequin";
        data.ploidy = genotypic ? 2 : 1;
        data.layout = "DataType " + datatype + (genotypic ? ", genotypic" : ", haplotypic");
    }

    void sample(const setting& s, int line)
    {
        if (s.key == "samplename") {
            closesample(line);
            sizegiven = false;
            data.pops.push_back({std::string(trim(s.value)), line, {}});
            total = 0;
        } else if (s.key == "samplesize") {
            if (!number(s.value, size, false))
                throw inputerror(line, "SampleSize " + quote(s.value) + ": expected a number");
            sizegiven = true;
        }
    }

    void opendata(int line)
    {
        if (data.pops.empty() || !data.pops.back().members.empty() || total > 0)
            throw inputerror(line, "SampleData without a SampleName before it");
        indata = true;
    }

    // One line within the braces of SampleData.
    void entry(std::string_view t, int line)
    {
        t = trim(t);
        if (t.empty())
            return;
        if (second) {
            const auto alleles = split(t);
            if (alleles.size() != data.loci.size())
                throw inputerror(line, "expected the second alleles of " + quote(pending.name) + " at " +
                                           count(data.loci.size(), "locus", "loci") + ", found " +
                                           num(alleles.size()));
            for (std::size_t l = 0; l < alleles.size(); ++l)
                pending.genes[2 * l + 1] = gene(l, alleles[l], line);
            second = false;
            emit();
            return;
        }
        const auto w = words(t);
        long freq = 0;
        if (w.size() < 2 || !number(w[1], freq, false))
            throw inputerror(line, "expected an identifier, a frequency and the alleles, found " + quote(t));
        std::string_view rest = t.substr(static_cast<std::size_t>(w[1].data() + w[1].size() - t.data()));
        const auto alleles = split(rest);
        if (data.loci.empty()) {
            if (alleles.empty())
                throw inputerror(line, "no alleles after the identifier and the frequency");
            for (std::size_t l = 0; l < alleles.size(); ++l)
                data.loci.push_back({"locus" + num(l + 1), 0, {}});
        }
        if (alleles.size() != data.loci.size())
            throw inputerror(line, "expected " + count(data.loci.size(), "allele", "alleles") +
                                       " (one per locus) after " + quote(w[0]) +
                                       " and its frequency, found " + num(alleles.size()));
        copies = freq;
        total += freq;
        const auto genes = static_cast<long>(data.loci.size()) * (genotypic ? 2 : 1);
        if (copies > 1 && (expanded += (copies - 1) * genes) > MAXCOPIES)
            throw inputerror(line, "the frequencies repeat entries into more than " +
                                       std::to_string(MAXCOPIES) + " genes");
        pending = {std::string(w[0]), line,
                   std::vector<int>(data.loci.size() * (genotypic ? 2 : 1), MISSING)};
        const std::size_t step = genotypic ? 2 : 1;
        for (std::size_t l = 0; l < alleles.size(); ++l)
            pending.genes[step * l] = gene(l, alleles[l], line);
        if (genotypic)
            second = true;
        else
            emit();
    }

    void closedata(int line)
    {
        if (second)
            throw inputerror(line, "the block ends before the second alleles of " + quote(pending.name));
        indata = false;
    }

    void closesample(int line) const
    {
        if (data.pops.empty())
            return;
        const population& p = data.pops.back();
        if (indata)
            throw inputerror(line, "SampleData of " + quote(p.name) + " has no closing }");
        if (sizegiven && size != total)
            throw inputerror(p.line, "SampleSize of " + quote(p.name) + " is " + std::to_string(size) +
                                         ", and its frequencies add up to " + std::to_string(total));
        if (p.members.empty())
            throw inputerror(p.line, "sample " + quote(p.name) + " has no individuals");
    }

    void end(int line)
    {
        closesample(line);
        if (data.pops.empty())
            throw inputerror(line, "no samples: expected SampleName, SampleSize and SampleData={ ... }");
        if (nbsamples >= 0 && static_cast<std::size_t>(nbsamples) != data.pops.size())
            throw inputerror(0, "NbSamples is " + std::to_string(nbsamples) + ", and the file holds " +
                                    count(data.pops.size(), "sample", "samples"));
        for (std::size_t p = 0; p < data.pops.size(); ++p)
            if (data.pops[p].name.empty())
                data.pops[p].name = "sample" + num(p + 1);
    }

    bool indata = false;

private:
    std::string datatype;
    std::string separator = "whitespace";
    std::string_view missing = "?";
    bool genotypic = false;
    long nbsamples = -1;
    long size = 0, total = 0, copies = 0, expanded = 0;
    bool sizegiven = false;
    bool second = false;
    individual pending;
    alleletables tables;

    std::vector<std::string_view> split(std::string_view s) const
    {
        if (separator == "whitespace" || separator == "tab")
            return words(s);
        std::vector<std::string_view> out;
        if (separator == "none") {
            for (std::size_t i = 0; i < s.size(); ++i)
                if (!white(s[i]))
                    out.push_back(s.substr(i, 1));
            return out;
        }
        return cells(trim(s), separator.size() == 1 ? separator[0] : ',');
    }

    int gene(std::size_t l, std::string_view allele, int line)
    {
        if (allele == missing)
            return MISSING;
        if (datatype == "microsat") {
            long code = 0;
            if (!number(allele, code))
                throw inputerror(line,
                                 "allele " + quote(allele) + " at locus " + num(l + 1) +
                                     ": expected a number (DataType=MICROSAT) or the missing data symbol " +
                                     quote(missing));
            return tables.index(data, l, codelabel(code));
        }
        if (allele.empty())
            throw inputerror(line, "locus " + num(l + 1) + " has no allele");
        return tables.index(data, l, allele);
    }

    void emit()
    {
        for (long c = 0; c < copies; ++c)
            data.pops.back().members.push_back(pending);
    }
};

}  // namespace

dataset readarlequin(std::string_view text)
{
    linereader in(text);
    std::string_view line;
    reader r;
    std::string section, subsection;
    bool profiled = false, awaitbrace = false;
    while (in.next(line)) {
        std::string_view t = uncomment(line);
        if (r.indata) {
            const std::size_t close = t.find('}');
            r.entry(t.substr(0, close), in.number);
            if (close == std::string_view::npos)
                continue;
            r.closedata(in.number);
            t = t.substr(close + 1);
        }
        t = trim(t);
        if (t.empty())
            continue;
        if (awaitbrace) {
            if (t.front() != '{')
                throw inputerror(in.number, "expected { to open SampleData, found " + quote(t));
            awaitbrace = false;
            r.opendata(in.number);
            t = t.substr(1);
            const std::size_t close = t.find('}');
            r.entry(t.substr(0, close), in.number);
            if (close != std::string_view::npos)
                r.closedata(in.number);
            continue;
        }
        if (t.starts_with("[[")) {
            subsection =
                lower(trim(t.substr(2, t.find("]]") == std::string_view::npos ? 0 : t.find("]]") - 2)));
            if (subsection == "haplotypedefinition")
                throw inputerror(in.number,
                                 "[[HaplotypeDefinition]]: samples given as haplotype lists are not read");
            if (subsection == "samples" && !profiled) {
                r.checkprofile(in.number);
                profiled = true;
            }
            continue;
        }
        if (t.front() == '[') {
            section = lower(trim(t.substr(1, t.find(']') == std::string_view::npos ? 0 : t.find(']') - 1)));
            subsection.clear();
            continue;
        }
        if (section != "profile" && subsection != "samples")
            continue;  // settings of other sections do not concern the genotypes
        for (const setting& s : settings(t, in.number)) {
            if (section == "profile") {
                r.profile(s, in.number);
                continue;
            }
            r.sample(s, in.number);
            if (s.key == "sampledata") {
                if (s.value != "{") {
                    if (!s.value.empty())
                        throw inputerror(in.number, "expected { after SampleData=, found " + quote(s.value));
                    awaitbrace = true;
                    continue;
                }
                r.opendata(in.number);
                const std::size_t close = s.rest.find('}');
                r.entry(s.rest.substr(0, close), in.number);
                if (close != std::string_view::npos)
                    r.closedata(in.number);
            }
        }
    }
    if (!profiled)
        throw inputerror(0, "expected a [Profile] section and [[Samples]] in [Data]");
    r.end(in.number);
    return std::move(r.data);
}

}  // namespace formats
