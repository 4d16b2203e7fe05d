#include "literal.h"

float literallikelihood(float theta, const datastr* data, const tables* t)
{
    return static_cast<float>(literalsum(theta, data, t));
}

long double literalsum(float theta, const datastr* data, const tables* t)
{
    const auto& freq = t->freq;
    const auto& ngenes = t->ngenes;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k) {
                for (int i = 0; i < data->allelecount[p][l][k]; ++i) {
                    const long double r = 1.0L / freq[l][k];
                    a += 1.0L / (r * i + static_cast<long double>(theta));
                }
            }
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i)
                b += 1.0L / (static_cast<long double>(theta) + i);
            sum += a - b;
        }
    }
    return sum;
}

long double literalvar(float theta, const datastr* data, const tables* t)
{
    const auto& freq = t->freq;
    const auto& ngenes = t->ngenes;
    long double sum = 0.0L;
    for (int p = 1; p <= data->npops; ++p) {
        for (int l = 1; l <= data->nloci; ++l) {
            long double a = 0.0L;
            for (int k = 1; k <= data->nalleles[l]; ++k) {
                for (int i = 0; i < data->allelecount[p][l][k]; ++i) {
                    const long double r = 1.0L / freq[l][k];
                    const long double term = 1.0L / (r * i + static_cast<long double>(theta));
                    a += term * term;
                }
            }
            long double b = 0.0L;
            for (int i = 0; i < ngenes[p][l]; ++i) {
                const long double term = 1.0L / (static_cast<long double>(theta) + i);
                b += term * term;
            }
            sum += b - a;
        }
    }
    return -1.0L / sum;
}
