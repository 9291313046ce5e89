#ifndef QUIB_CHUNK_SCAN_H
#define QUIB_CHUNK_SCAN_H

// The fast way through the input: 64-byte chunks classified with bit masks.
// Tag state follows from a prefix XOR of '<' and '>', quotation state from a
// prefix XOR of the quotes outside tags; the chunk is copied whole and its
// quotes patched into marks. The chunks stop at the first byte that needs a
// handler's judgement (a backslash, an '&' outside a tag, a nested '<', a '>'
// outside a tag) or where fewer than 64 bytes are left, and say which
// handlers are open there; the caller goes on with those handlers from exactly
// that byte. Started inside a quotation (by the quotation handler), the chunks
// also stop at the quotation's closing quote.
// An entity whose whole window is in the block is settled here, as the entity
// handler would: an unknown name is copied as it stands, a quote entity acts
// as a quote (except one that would close the quotation handler's own
// quotation, which is left to that handler). last_char is kept exactly as the
// byte-at-a-time rules leave it.
//
// Included by one source file per instruction set; everything here is
// internal to that file.

#include <cstring>

#include "chunk_masks.h"
#include "entity_names.h"
#include "scanner.h"

namespace {

constexpr std::size_t CHUNK = 64;
// A line end before every byte, every byte a mark of the longest kind.
constexpr std::size_t CHUNK_OUT_MAX = CHUNK * (1 + MARK_MAX);
constexpr std::uint64_t ALL = ~std::uint64_t{0};

inline unsigned lowest_bit(std::uint64_t x)
{
    return static_cast<unsigned>(__builtin_ctzll(x));
}

inline unsigned highest_bit(std::uint64_t x)
{
    return 63 - static_cast<unsigned>(__builtin_clzll(x));
}

template <chunk_masks (*Classify)(const unsigned char*),
          std::uint64_t (*PrefixXor)(std::uint64_t) = prefix_xor>
open_context scan_chunks(scan_state& st, open_context from)
{
    const bool stop_at_quote = from == open_context::quotation;
    bool in_tag = false; // at the start of the chunk
    bool in_quote = stop_at_quote;
    // Byte stores into the output may alias the state, so the loop works on
    // copies of the fields it uses.
    const unsigned char* const in_block = st.in_block;
    unsigned char* const out_block = st.out_block;
    const std::size_t in_len = st.in_len;
    const bool break_tags = st.break_tags;
    const quote_marks marks = st.marks;
    const bool single_byte_marks = marks.open.len == 1 && marks.close.len == 1;
    std::size_t in_pos = st.in_pos;
    std::size_t out_len = st.out_len;
    unsigned char last_char = st.last_char;

    while (in_len - in_pos >= CHUNK) {
        if (OUT_BLOCK_SIZE - out_len < CHUNK_OUT_MAX) {
            st.out_len = out_len;
            flush_output(st);
            out_len = st.out_len;
        }
        const unsigned char* p = in_block + in_pos;
        const chunk_masks m = Classify(p);

        // Bit set for '<' and the bytes inside a tag; clear for its '>'.
        const std::uint64_t tag_mask = PrefixXor(m.open | m.close) ^ (in_tag ? ALL : 0);
        const std::uint64_t needs_handler =
            m.backslash | ((m.amp | m.open) & ~tag_mask) | (m.close & tag_mask) |
            (stop_at_quote ? m.quote & ~tag_mask : 0);
        const unsigned n = needs_handler != 0 ? lowest_bit(needs_handler) : 64;
        const std::uint64_t valid = n == 64 ? ALL : (std::uint64_t{1} << n) - 1;

        // Bit set for an opening quote and the quotation's inside; clear for
        // its closing quote. Bits from n on are never used.
        const std::uint64_t quotes = m.quote & ~tag_mask & valid;
        const std::uint64_t quote_mask = PrefixXor(quotes) ^ (in_quote ? ALL : 0);
        const std::uint64_t tag_ends = m.close & valid;

        std::uint64_t breaks = 0;
        if (break_tags) {
            const std::uint64_t top_tags = m.open & ~quote_mask & valid;
            breaks = top_tags & ((tag_ends << 1) | (last_char == '>' ? 1 : 0));
        }

        unsigned char* o = out_block + out_len;
        if (breaks == 0 && single_byte_marks) {
            std::memcpy(o, p, CHUNK);
            for (std::uint64_t q = quotes; q != 0; q &= q - 1) {
                const unsigned i = lowest_bit(q);
                o[i] = (quote_mask >> i & 1) != 0 ? marks.open.bytes[0] : marks.close.bytes[0];
            }
            out_len += n;
        } else {
            // Copy the stretches between the edits: line ends go before a
            // byte, marks replace a quote. Each stretch is copied as a whole
            // chunk, whose excess the next write covers: the input block has
            // slack behind it, and the output room covers the widest chunk.
            std::size_t k = 0;
            unsigned from = 0;
            for (std::uint64_t e = quotes | breaks; e != 0; e &= e - 1) {
                const unsigned i = lowest_bit(e);
                std::memcpy(o + k, p + from, CHUNK);
                k += i - from;
                from = i;
                if ((breaks >> i & 1) != 0) {
                    o[k++] = '\n';
                }
                if ((quotes >> i & 1) != 0) {
                    const quote_mark& mark = (quote_mask >> i & 1) != 0 ? marks.open : marks.close;
                    std::memcpy(o + k, mark.bytes, MARK_MAX);
                    k += mark.len;
                    from = i + 1;
                }
            }
            std::memcpy(o + k, p + from, CHUNK);
            out_len += k + (n - from);
        }

        // last_char: the last top-level ordinary byte, tag end or closing quote.
        const std::uint64_t top_text = ~(tag_mask | tag_ends | quote_mask | quotes);
        const std::uint64_t events = (top_text | tag_ends | (quotes & ~quote_mask)) & valid;
        if (events != 0) {
            last_char = p[highest_bit(events)];
        }

        in_pos += n;
        if (n != 64) {
            in_tag = n == 0 ? in_tag : (tag_mask >> (n - 1) & 1) != 0;
            in_quote = n == 0 ? in_quote : (quote_mask >> (n - 1) & 1) != 0;
            if (p[n] != '&' || in_len - in_pos <= ENTITY_NAME_MAX) {
                break;
            }
            const unsigned char* name = p + n + 1;
            const std::size_t len = entity_name_length(name, ENTITY_NAME_MAX);
            if (OUT_BLOCK_SIZE - out_len < CHUNK_OUT_MAX) {
                st.out_len = out_len;
                flush_output(st);
                out_len = st.out_len;
            }
            if (!is_quote_entity(name, len)) {
                std::memcpy(out_block + out_len, p + n, 1 + len);
                out_len += 1 + len;
            } else if (stop_at_quote) {
                break;
            } else {
                const quote_mark& mark = in_quote ? marks.close : marks.open;
                std::memcpy(out_block + out_len, mark.bytes, MARK_MAX);
                out_len += mark.len;
                if (in_quote) {
                    last_char = '"';
                }
                in_quote = !in_quote;
            }
            in_pos += 1 + len;
            continue;
        }
        in_tag = (tag_mask >> 63) != 0;
        in_quote = (quote_mask >> 63) != 0;
    }
    st.in_pos = in_pos;
    st.out_len = out_len;
    st.last_char = last_char;
    if (in_tag) {
        return in_quote ? open_context::tag_in_quotation : open_context::tag;
    }
    return in_quote ? open_context::quotation : open_context::top_level;
}

} // namespace

#endif
