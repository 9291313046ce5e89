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

#include "check.h"
#include "chunk_masks.h"
#include "entity_names.h"
#include "scanner.h"

namespace {

constexpr std::size_t CHUNK = 64;
// A line end before every byte, every byte a mark of the longest kind.
constexpr std::size_t CHUNK_OUT_MAX = CHUNK * (1 + MARK_MAX);
constexpr std::uint64_t ALL = ~std::uint64_t{0};
constexpr std::size_t PREFETCH_DISTANCE = 2048;

inline unsigned lowest_bit(std::uint64_t x)
{
    return static_cast<unsigned>(__builtin_ctzll(x));
}

inline unsigned highest_bit(std::uint64_t x)
{
    return 63 - static_cast<unsigned>(__builtin_clzll(x));
}

// Passes the '&'s in amps, lowest first, whose entity is copied as it stands
// and holds no byte that would act outside it: for the chunk they are text,
// except that the bytes of such an entity ('&' and name) are no event for
// last_char; they are added to entity_bytes, and those beyond the chunk to
// carried. Stops at the first other '&' and returns it and those after it.
// room: the bytes at hand from p. An entity reaching into the next chunk is
// passed only if that chunk is at hand, so the carried bytes are consumed.
// EveryChunk: called for every chunk, with or without an '&', where the
// test for low '&'s would mispredict as often as the caller's own.
template <class Isa, bool EveryChunk = false>
inline std::uint64_t pass_plain_entities(const unsigned char* p, const chunk_masks& m,
                                         std::uint64_t amps, std::size_t room,
                                         std::uint64_t& entity_bytes, std::uint64_t& carried)
{
    // A name ends after its first ';' or space, or after ENTITY_NAME_MAX
    // bytes; none of its bytes may be one that acts outside an entity.
    const name_masks names = Isa::name_bytes(p);
    const std::uint64_t ends = names.ends;
    const std::uint64_t specials = m.quote | m.amp | m.open | m.close | m.backslash;
    constexpr std::uint64_t LONGEST = std::uint64_t{1} << (ENTITY_NAME_MAX - 1);

    // The '&'s low in the chunk all at once: each has a whole name's room in
    // it. Subtracting each name's first byte from the ends borrows from the
    // end that closes that name, so the difference differs from the ends in
    // exactly the names' bytes, as long as no '&' lies in another's name
    // (then that name holds a special byte) and the end is near (else a run
    // of more than ENTITY_NAME_MAX bits, also for a name that borrows past
    // the top of the chunk). Names with a q may be quote entities. The loop
    // below takes whatever is left.
    if (const std::uint64_t low = amps & ((std::uint64_t{1} << (CHUNK - 1 - ENTITY_NAME_MAX)) - 1);
        EveryChunk || low != 0) {
        const std::uint64_t name_bits = (ends - (low << 1)) ^ ends;
        std::uint64_t runs = name_bits & name_bits >> 1;  // runs of 2 and more
        runs &= runs >> 2;                                // 4
        runs &= runs >> 4;                                // 8
        runs &= runs >> (ENTITY_NAME_MAX + 1 - 8);        // ENTITY_NAME_MAX + 1
        if (((specials | names.q) & name_bits) == 0 && runs == 0) {
            entity_bytes |= name_bits | low;
            amps &= ~low;
        }
    }
    while (amps != 0) {
        const unsigned i = lowest_bit(amps);
        const unsigned char* name = p + i + 1;
        std::size_t len;
        bool plain;
        if (i + ENTITY_NAME_MAX < CHUNK) {
            len = lowest_bit(ends >> (i + 1) | LONGEST) + 1;
            plain = (specials >> (i + 1) & ((std::uint64_t{1} << len) - 1)) == 0;
        } else {
            // No library templates here: an AVX file must not emit them.
            len = entity_name_length(name, ENTITY_NAME_MAX);
            plain = true;
            for (std::size_t k = 0; k < len; ++k) {
                const unsigned char c = name[k];
                plain = plain && c != '"' && c != '&' && c != '<' && c != '>' && c != '\\';
            }
        }
        const std::size_t last = i + len; // the name's last byte
        const int reachable = (last < CHUNK ? 1 : 0) | (room >= 2 * CHUNK ? 1 : 0);
        if ((static_cast<int>(plain) & reachable & static_cast<int>(!is_quote_entity(name, len))) ==
            0) {
            break;
        }
        const std::uint64_t bytes = (std::uint64_t{2} << len) - 1;
        entity_bytes |= bytes << i;
        if (last >= CHUNK) {
            carried = bytes >> (CHUNK - i);
        }
        amps &= amps - 1;
    }
    return amps;
}

// The parts of a chunk scanner that need no vector instructions. Each
// instruction set derives its own parts from these, bringing its classify
// (the masks of a chunk) and whatever it does faster.
struct scalar_parts {
    static chunk_masks classify(const unsigned char* p) { return classify_scalar(p); }

    static name_masks name_bytes(const unsigned char* p) { return name_masks_scalar(p); }

    static std::uint64_t prefix_xor(std::uint64_t x) { return prefix_xor_shifts(x); }
    static constexpr bool CHEAP_PREFIX_XOR = false;
    // Whether prose dense with entities has every chunk's entities settled
    // without a test for an '&' (see entity_density): the name masks must
    // be cheap for it to pay.
    static constexpr bool UNTESTED_DENSE_ENTITIES = false;

    // The line ends of a chunk, for --check.
    static std::uint64_t line_ends(const unsigned char* p)
    {
        std::uint64_t m = 0;
        for_each_word(p, [&m](std::uint64_t w, unsigned shift) { m |= bytes_equal(w, '\n') << shift; });
        return m;
    }

    // Copies a chunk with its quotes replaced by one-byte marks: the bytes in
    // opens become open, those in closes become close.
    static void copy_with_byte_marks(unsigned char* o, const unsigned char* p,
                                     std::uint64_t opens, std::uint64_t closes,
                                     unsigned char open, unsigned char close)
    {
        std::memcpy(o, p, CHUNK);
        // Opening and closing quotes alternate: picked without a branch.
        const unsigned char flip = open ^ close;
        for (std::uint64_t q = opens | closes; q != 0; q &= q - 1) {
            const unsigned i = lowest_bit(q);
            o[i] = static_cast<unsigned char>(close ^ (flip & -static_cast<unsigned>(opens >> i & 1)));
        }
    }
};

// Writes the first n bytes of chunk p to o, each quote in quotes replaced by
// its mark (opening where quote_mask has its bit), a line end before each
// byte in breaks, and the bytes in drops left out; returns the number of
// bytes written. Each stretch between two edits is copied as a whole chunk,
// whose excess the next write covers: the input block has slack behind it,
// and the output room covers the widest chunk. Inlined: its loop is short,
// and a call would cost the windows' loop its registers.
[[gnu::always_inline]] inline std::size_t
copy_with_edits(unsigned char* o, const unsigned char* p, unsigned n, std::uint64_t quotes,
                std::uint64_t quote_mask, std::uint64_t breaks, std::uint64_t drops,
                const quote_marks& marks)
{
    std::size_t k = 0;
    unsigned from = 0;
    for (std::uint64_t e = quotes | breaks | drops; e != 0; e &= e - 1) {
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
        } else if ((drops >> i & 1) != 0) {
            from = i + 1;
        }
    }
    std::memcpy(o + k, p + from, CHUNK);
    return k + (n - from);
}

// The backslashes of a chunk that begin an escape: in each run of
// backslashes, the first, the third, ...; each makes the byte after it
// literal. A chunk never begins inside an escape.
inline std::uint64_t escape_starts_of(std::uint64_t backslashes)
{
    constexpr std::uint64_t EVEN = 0x5555555555555555u;
    std::uint64_t starts = 0;
    for (std::uint64_t runs = backslashes & ~(backslashes << 1); runs != 0; runs &= runs - 1) {
        const unsigned s = lowest_bit(runs);
        const std::uint64_t after = ~backslashes >> s;
        const unsigned len = after == 0 ? CHUNK - s : lowest_bit(after);
        const std::uint64_t run = (len == CHUNK ? ALL : (std::uint64_t{1} << len) - 1) << s;
        starts |= run & (s % 2 == 0 ? EVEN : ~EVEN);
    }
    return starts;
}

// All ones if the top bit of x is set, else zero.
inline std::uint64_t spread_top_bit(std::uint64_t x)
{
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(x) >> 63);
}

// --check in the chunks: where one call of the chunk loop began, and the
// tag open at the end of the last chunk.
struct chunk_checking {
    const unsigned char* call_start;
    const unsigned char* tag_text = nullptr; // the byte after its '<'
    unsigned long tag_line = 0;
    bool tag_escapes = false;                // an escape in it so far
};

// The first two bytes of the code elements' names by their low five bits,
// so in any case: bit b of row a is set where a name begins with bytes a,
// b. An end tag's row for 'p' is full: "</p>" ends a paragraph.
struct name_pair_rows {
    std::uint32_t start[32] = {};
    std::uint32_t end[32] = {};
};
constexpr unsigned NAME_PAIR_BITS = 0x1f;

constexpr name_pair_rows code_name_pairs()
{
    name_pair_rows rows;
    for (const char* name : CODE_ELEMENTS) {
        const unsigned a = static_cast<unsigned char>(name[0]) & NAME_PAIR_BITS;
        const unsigned b = static_cast<unsigned char>(name[1]) & NAME_PAIR_BITS;
        rows.start[a] |= 1u << b;
        rows.end[a] |= 1u << b;
    }
    rows.end['p' & NAME_PAIR_BITS] = ~0u;
    return rows;
}
inline constexpr name_pair_rows CODE_NAME_PAIRS = code_name_pairs();

// Whether rows hold the pair of the two bytes at name.
inline bool has_name_pair(const std::uint32_t (&rows)[32], const unsigned char* name)
{
    return (rows[name[0] & NAME_PAIR_BITS] >> (name[1] & NAME_PAIR_BITS) & 1u) != 0;
}

// Whether a name may be a code element's from its first two bytes; a name
// shorter than that is none.
inline bool may_name_code_element(const unsigned char* name)
{
    return has_name_pair(CODE_NAME_PAIRS.start, name);
}

// The ends (in tag_ends) of the tags beginning at starts that can neither
// open or close a code element nor end a paragraph, told by the two bytes
// of their name (after the '/' of an end tag). No escape may be in them.
// Those bytes may lie past the chunk, in the block's slack; but a tag that
// could matter has them before its '>', and only tags ending in the chunk
// are returned. tag_mask holds each tag from its '<' to the byte before its
// '>': adding a tag's start bit carries through it to its end.
inline std::uint64_t ends_of_plain_tags(const unsigned char* p, std::uint64_t starts,
                                        std::uint64_t tag_mask, std::uint64_t tag_ends)
{
    std::uint64_t plain = 0;
    for (; starts != 0; starts &= starts - 1) {
        const unsigned s = lowest_bit(starts);
        const unsigned char* name = p + s + 1;
        const bool may_matter = name[0] == '/' ? has_name_pair(CODE_NAME_PAIRS.end, name + 1)
                                               : has_name_pair(CODE_NAME_PAIRS.start, name);
        plain |= std::uint64_t{may_matter ? 0u : 1u} << s;
    }
    return (tag_mask + plain) & tag_ends;
}

// Whether the tag of len bytes at text may open or close a code element
// or end a paragraph inside a quotation.
inline bool tag_may_matter(const quote_check& c, const unsigned char* text, std::size_t len)
{
    if (text[0] == '/') {
        return len > 2 ? may_name_code_element(text + 1) : len == 2 && c.in_quotation;
    }
    return len >= 2 && may_name_code_element(text);
}

inline bool is_blank_in_line(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Whether the line before the line end at q holds only blanks and began
// with a line end inside the quotation open at q. Each byte of the call
// is in the block; before them the hooks' own note holds.
inline bool follows_blank_line(const quote_check& c, const chunk_checking& k,
                               const unsigned char* q)
{
    while (q > k.call_start && is_blank_in_line(q[-1])) {
        --q;
    }
    // The quotation was open before the bytes passed over: they hold no
    // quote.
    return q == k.call_start ? c.blank_line : q[-1] == '\n';
}

// The tag's bytes from text to end as the hooks note them: without its
// escapes, the backslash nor the byte it makes literal. Returns the count;
// the first TAG_TEXT_MAX go to noted.
inline std::size_t noted_tag_text(const unsigned char* text, const unsigned char* end,
                                  unsigned char (&noted)[TAG_TEXT_MAX])
{
    std::size_t n = 0;
    while (text < end) {
        if (*text == '\\') {
            text += 2;
            continue;
        }
        if (n < TAG_TEXT_MAX) {
            noted[n] = *text;
        }
        ++n;
        ++text;
    }
    return n;
}

// What the byte path's hooks note for the bytes in valid of chunk p, in
// their order: quotes (opening where quote_mask has the bit), line ends
// (line_ends) inside quotations, tags' ends, backslashes dropped (drops);
// the tags' bytes before their '>' in tag_mask, their '<' in starts, the
// backslashes that escape in escapes.
// Tags that cannot matter are passed over without a look.
template <class Isa>
[[gnu::always_inline]] inline void
check_chunk(quote_check& c, chunk_checking& k, const unsigned char* p, std::uint64_t valid,
            std::uint64_t line_ends, std::uint64_t tag_mask, std::uint64_t starts,
            std::uint64_t escapes, std::uint64_t quotes, std::uint64_t quote_mask,
            std::uint64_t tag_ends, std::uint64_t drops)
{
    line_ends &= valid;
    const unsigned long first_line = c.line;
    const auto line_at = [&](unsigned i) {
        return first_line + static_cast<unsigned long>(
                                count_ones(line_ends & ((std::uint64_t{1} << i) - 1)));
    };
    starts &= valid;
    std::uint64_t read_ends = tag_ends;
    if (escapes == 0 && starts != 0) {
        read_ends &= ~ends_of_plain_tags(p, starts, tag_mask, tag_ends);
    }
    for (std::uint64_t e = quotes | (line_ends & quote_mask) | read_ends | drops; e != 0;
         e &= e - 1) {
        const unsigned i = lowest_bit(e);
        const std::uint64_t bit = std::uint64_t{1} << i;
        c.line = line_at(i);
        if ((quotes & bit) != 0) {
            if ((quote_mask & bit) != 0) {
                const int before = i > 0 ? p[i - 1] : p > k.call_start ? p[-1] : c.last_byte;
                check_quotation_opens(c, before);
            } else {
                check_quotation_closes(c);
            }
        } else if ((tag_ends & bit) != 0) {
            const std::uint64_t opened = starts & (bit - 1);
            const unsigned char* text = k.tag_text;
            bool escaped = k.tag_escapes;
            if (opened != 0) {
                const unsigned s = highest_bit(opened);
                text = p + s + 1;
                escaped = ((escapes & (bit - 1)) >> s) != 0;
            } else {
                escaped = escaped || (escapes & (bit - 1)) != 0;
            }
            if (escaped) {
                unsigned char noted[TAG_TEXT_MAX];
                check_whole_tag(c, noted, noted_tag_text(text, p + i, noted));
            } else if (tag_may_matter(c, text, static_cast<std::size_t>(p + i - text))) {
                check_whole_tag(c, text, static_cast<std::size_t>(p + i - text));
            }
        } else if ((drops & bit) != 0) {
            check_dropped_backslash(c);
        } else if (follows_blank_line(c, k, p + i)) {
            check_blank_line_in_quotation(c);
        }
    }
    // A tag that goes on past the chunk.
    if (starts != 0 && (tag_ends >> highest_bit(starts)) == 0) {
        const unsigned s = highest_bit(starts);
        k.tag_text = p + s + 1;
        k.tag_line = line_at(s);
        k.tag_escapes = (escapes & valid) >> s != 0;
    } else {
        k.tag_escapes = k.tag_escapes || (escapes & valid) != 0;
    }
    c.line = first_line + static_cast<unsigned long>(count_ones(line_ends));
}

// The hooks' notes where a call of the chunk loop stops at end, in a tag
// or quotation or not, as the byte path would have left them.
inline void finish_chunk_check(quote_check& c, const chunk_checking& k, const unsigned char* end,
                               bool in_tag, bool in_quote)
{
    if (end == k.call_start) {
        return;
    }
    c.byte_before_last = end - k.call_start >= 2 ? end[-2] : c.last_byte;
    c.last_byte = end[-1];
    const unsigned char* q = end;
    while (q > k.call_start && is_blank_in_line(q[-1])) {
        --q;
    }
    if (q != k.call_start) {
        c.blank_line = in_quote && q[-1] == '\n';
    }
    if (in_tag) {
        c.tag_line = k.tag_line;
        c.tag_len = noted_tag_text(k.tag_text, end, c.tag_text);
    }
}

// Where the plain-chunk loop stands; copied to registers while it runs.
struct chunk_run {
    const unsigned char* p;          // the next chunk
    const unsigned char* last_p;     // the last chunk that may start
    unsigned char* o;                // where its output goes
    unsigned char* last_o;           // the last place with room for a chunk's output
    std::uint64_t in_tag;
    std::uint64_t in_quote;
    const unsigned char* last_chunk; // as in scan_chunks_as
    std::uint64_t last_events;
    std::uint64_t carried_entity_bytes;
    quote_check* check;              // with --check
    chunk_checking* checking;
    entity_density* amps;
};

// The common case, apart from the rest so its few values stay in registers:
// whole chunks without a byte for a handler, with only entities that change
// nothing and stay in the chunk, and, with marks longer than a byte, without
// a quote. Returns at the first other chunk, or where input or output room
// runs short.
template <class Isa, bool StopAtQuote, bool ByteMarks, bool Check, bool AllAmps>
[[gnu::noinline]] void run_plain_chunks(chunk_run& run, unsigned char open_byte,
                                        unsigned char close_byte)
{
    const unsigned char* p = run.p;
    unsigned char* o = run.o;
    std::uint64_t in_tag = run.in_tag;
    std::uint64_t in_quote = run.in_quote;
    const unsigned char* last_chunk = run.last_chunk;
    std::uint64_t last_events = run.last_events;
    std::uint64_t carried = run.carried_entity_bytes;
    const unsigned char* const last_p = run.last_p;
    const unsigned char* const last_o = run.last_o;
    unsigned with_amp = 0;
    while (p <= last_p && o <= last_o) {
        __builtin_prefetch(p + PREFETCH_DISTANCE);
        const chunk_masks m = Isa::classify(p);
        // Without a '<' or an open tag, every '>' is an ordinary byte. Told
        // without a branch, which chunks with and without tags in turn
        // mislead, where the prefix XOR is cheap; else the branch spares the
        // chunks without tags their prefix XOR.
        const bool may_have_tags = (m.open | in_tag) != 0;
        std::uint64_t closes = 0;
        if constexpr (Isa::CHEAP_PREFIX_XOR) {
            closes = m.close & (std::uint64_t{0} - static_cast<std::uint64_t>(may_have_tags));
        } else if (may_have_tags) {
            closes = m.close;
        }
        const std::uint64_t tag_mask = Isa::prefix_xor(m.open | closes) ^ in_tag;
        const std::uint64_t stops = m.backslash | (m.open & ~tag_mask) | (closes & tag_mask) |
                                    (StopAtQuote ? m.quote & ~tag_mask : 0);
        const std::uint64_t quotes = m.quote & ~tag_mask;
        if (stops != 0 || (!ByteMarks && quotes != 0)) {
            break;
        }
        // Entities that change nothing.
        std::uint64_t entity_bytes = carried;
        const std::uint64_t amps = m.amp & ~tag_mask;
        with_amp += amps != 0 ? 1 : 0;
        if (AllAmps || amps != 0) {
            std::uint64_t reaching_on = 0;
            const std::size_t room = static_cast<std::size_t>(last_p - p) + CHUNK;
            if (pass_plain_entities<Isa, AllAmps>(p, m, amps, room, entity_bytes, reaching_on) !=
                0) {
                break;
            }
            carried = reaching_on;
        } else {
            carried = 0;
        }
        const std::uint64_t quote_mask = Isa::prefix_xor(quotes) ^ in_quote;
        const std::uint64_t events = ~(tag_mask | quote_mask | entity_bytes) | closes;
        last_chunk = events != 0 ? p : last_chunk;
        last_events = events != 0 ? events : last_events;
        if constexpr (Check) {
            // Every '>' here ends a tag; no backslash is here. A chunk of
            // text or of one tag's inside, without a line end inside a
            // quotation, only moves the line on.
            const std::uint64_t line_ends = Isa::line_ends(p);
            if ((quotes | closes | (m.open & tag_mask) | (line_ends & quote_mask)) == 0) {
                run.check->line += static_cast<unsigned long>(count_ones(line_ends));
            } else {
                check_chunk<Isa>(*run.check, *run.checking, p, ALL, line_ends, tag_mask,
                                 m.open & tag_mask, 0, quotes, quote_mask, closes, 0);
            }
        }
        if constexpr (ByteMarks) {
            Isa::copy_with_byte_marks(o, p, quotes & quote_mask, quotes & ~quote_mask, open_byte,
                                      close_byte);
        } else {
            std::memcpy(o, p, CHUNK);
        }
        p += CHUNK;
        o += CHUNK;
        in_tag = spread_top_bit(tag_mask);
        in_quote = spread_top_bit(quote_mask);
    }
    entity_density& d = *run.amps;
    d.chunks += static_cast<unsigned>((p - run.p) / CHUNK);
    d.with_amp += with_amp;
    if (d.chunks >= entity_density::SAMPLE) {
        d.dense = entity_density::DENSE_ONE_IN * d.with_amp > d.chunks;
        d.chunks = 0;
        d.with_amp = 0;
    }
    run.p = p;
    run.o = o;
    run.in_tag = in_tag;
    run.in_quote = in_quote;
    run.last_chunk = last_chunk;
    run.last_events = last_events;
    run.carried_entity_bytes = carried;
}

// The loop, compiled once for each way it can be asked to run, so the checks
// of those choices stay out of it: StopAtQuote when the quotation handler
// asks, BreakTags for option -z, ByteMarks when both marks are one byte,
// Check for --check (not with -z).
template <class Isa, bool StopAtQuote, bool BreakTags, bool ByteMarks, bool Check = false>
open_context scan_chunks_as(scan_state& st)
{
    static_assert(!(Check && BreakTags));
    // All ones when the next chunk starts inside a tag, inside a quotation.
    std::uint64_t in_tag = 0;
    std::uint64_t in_quote = StopAtQuote ? ALL : 0;
    // Byte stores into the output may alias the state, so the loop works on
    // copies of the fields it uses.
    const unsigned char* const in_block = st.in.block;
    unsigned char* out_block = st.out.block;
    std::size_t out_cap = st.out.cap;
    const std::size_t in_len = st.in.len;
    const quote_marks marks = st.marks;
    const unsigned char open_byte = marks.open.bytes[0];
    const unsigned char close_byte = marks.close.bytes[0];
    std::size_t in_pos = st.in.pos;
    std::size_t out_len = st.out.len;
    // last_char is the byte at the highest bit of last_events in last_chunk,
    // if that is set, else last_char: the byte is found when it is needed,
    // not in every chunk.
    unsigned char last_char = st.last_char;
    const unsigned char* last_chunk = nullptr;
    std::uint64_t last_events = 0;
    // The bytes of the next chunk that belong to an entity passed as text.
    std::uint64_t carried_entity_bytes = 0;
    bool try_plain = true; // the plain chunks' loop first
    chunk_checking checking{in_block + in_pos};
    const auto current_last_char = [&] {
        return last_chunk != nullptr ? last_chunk[highest_bit(last_events)] : last_char;
    };
    // Room for a chunk's output, the block written out where it lacks.
    const auto make_room = [&] {
        if (out_cap - out_len < CHUNK_OUT_MAX) {
            st.out.len = out_len;
            flush_output(st);
            out_len = st.out.len;
            out_block = st.out.block;
            out_cap = st.out.cap;
        }
    };

    while (in_len - in_pos >= CHUNK) {
        make_room();
        if (!BreakTags && try_plain) {
            chunk_run run{in_block + in_pos,
                          in_block + in_len - CHUNK,
                          out_block + out_len,
                          out_block + (out_cap - CHUNK_OUT_MAX),
                          in_tag,
                          in_quote,
                          last_chunk,
                          last_events,
                          carried_entity_bytes,
                          st.check,
                          &checking,
                          &st.amps};
            if (Isa::UNTESTED_DENSE_ENTITIES && st.amps.dense) {
                run_plain_chunks<Isa, StopAtQuote, ByteMarks, Check, true>(run, open_byte,
                                                                          close_byte);
            } else {
                run_plain_chunks<Isa, StopAtQuote, ByteMarks, Check, false>(run, open_byte,
                                                                           close_byte);
            }
            in_pos = static_cast<std::size_t>(run.p - in_block);
            out_len = static_cast<std::size_t>(run.o - out_block);
            in_tag = run.in_tag;
            in_quote = run.in_quote;
            last_chunk = run.last_chunk;
            last_events = run.last_events;
            carried_entity_bytes = run.carried_entity_bytes;
            if (in_len - in_pos < CHUNK) {
                break;
            }
            if (out_cap - out_len < CHUNK_OUT_MAX) {
                continue;
            }
        }
        // A chunk of any other kind.
        const unsigned char* p = in_block + in_pos;
        chunk_masks m = Isa::classify(p);
        // Escapes: the byte after an escaping backslash is literal, whatever
        // it is; the backslash goes where that byte is one of the four
        // escapable ones, and stays before any other. An escape that the
        // chunk's end cuts in two goes to the handler.
        std::uint64_t escape_starts = 0;
        std::uint64_t escaped = 0;
        std::uint64_t drops = 0;
        std::uint64_t p_close_escaped = 0; // escaped '>'
        if (m.backslash != 0) {
            escape_starts = escape_starts_of(m.backslash);
            escaped = escape_starts << 1;
            drops = (escaped & (m.quote | m.open | m.close | m.backslash)) >> 1;
            p_close_escaped = escaped & m.close;
            m.quote &= ~escaped;
            m.open &= ~escaped;
            m.close &= ~escaped;
            m.amp &= ~escaped;
        }

        // Bit set for '<' and the bytes inside a tag; clear for its '>'.
        // Without a '<' or an open tag, every '>' is an ordinary byte.
        const std::uint64_t closes = (m.open | in_tag) == 0 ? 0 : m.close;
        const std::uint64_t tag_mask = Isa::prefix_xor(m.open | closes) ^ in_tag;
        // The '&'s outside tags. Without -z an entity that changes nothing
        // needs no handler (with it, the line-break rule would have to look
        // past the entity).
        std::uint64_t amps = m.amp & ~tag_mask;
        std::uint64_t entity_bytes = carried_entity_bytes;
        carried_entity_bytes = 0;
        if constexpr (!BreakTags) {
            if (amps != 0) {
                amps = pass_plain_entities<Isa>(p, m, amps, in_len - in_pos, entity_bytes,
                                                carried_entity_bytes);
            }
        }
        const std::uint64_t needs_handler = (escape_starts & std::uint64_t{1} << (CHUNK - 1)) | amps |
                                            (m.open & ~tag_mask) | (closes & tag_mask) |
                                            (StopAtQuote ? m.quote & ~tag_mask : 0);
        // Most chunks go through whole.
        const bool whole = needs_handler == 0;
        const unsigned n = whole ? 64 : lowest_bit(needs_handler);
        const std::uint64_t valid = whole ? ALL : (std::uint64_t{1} << n) - 1;

        // Bit set for an opening quote and the quotation's inside; clear for
        // its closing quote. Bits from n on are never used.
        const std::uint64_t quotes = m.quote & ~tag_mask & valid;
        const std::uint64_t quote_mask = Isa::prefix_xor(quotes) ^ in_quote;
        const std::uint64_t tag_ends = closes & valid;

        // last_char: the last top-level ordinary byte, tag end or closing
        // quote (a closing quote is outside both masks), or escaped byte,
        // wherever it is; not a backslash that escapes.
        const std::uint64_t events =
            (~(tag_mask | quote_mask | entity_bytes) | tag_ends | escaped) & ~escape_starts & valid;

        unsigned char* o = out_block + out_len;
        std::uint64_t breaks = 0;
        if constexpr (BreakTags) {
            // After a tag's end or an escaped '>' (a stray one stops the chunk).
            breaks = m.open & ~quote_mask & valid &
                     (((tag_ends | (escaped & p_close_escaped)) << 1) |
                      (current_last_char() == '>' ? 1 : 0));
        }
        last_chunk = events != 0 ? p : last_chunk;
        last_events = events != 0 ? events : last_events;
        if constexpr (Check) {
            check_chunk<Isa>(*st.check, checking, p, valid, Isa::line_ends(p), tag_mask,
                             m.open & tag_mask, escape_starts, quotes, quote_mask, tag_ends,
                             drops & valid);
        }
        if (ByteMarks && breaks == 0 && drops == 0) {
            Isa::copy_with_byte_marks(o, p, quotes & quote_mask, quotes & ~quote_mask,
                                      open_byte, close_byte);
            out_len += n;
        } else {
            out_len += copy_with_edits(o, p, n, quotes, quote_mask, breaks, drops & valid, marks);
        }

        if (whole) {
            in_pos += CHUNK;
            in_tag = spread_top_bit(tag_mask);
            in_quote = spread_top_bit(quote_mask);
            try_plain = true;
            continue;
        }
        in_pos += n;
        carried_entity_bytes = 0; // only an entity after the stop could reach on
        if (n != 0) {
            in_tag = spread_top_bit(tag_mask << (64 - n));
            in_quote = spread_top_bit(quote_mask << (64 - n));
        }
        // The entity at the stop, and those right after it, as the handler
        // would take them; then on without the plain chunks' loop, which
        // would only stop at the next of a run of entities again.
        bool entities = false;
        bool quote_stop = false;
        while (in_len - in_pos > ENTITY_NAME_MAX && in_block[in_pos] == '&') {
            const unsigned char* name = in_block + in_pos + 1;
            const std::size_t len = entity_name_length(name, ENTITY_NAME_MAX);
            if (Check && std::memchr(name, '\n', len) != nullptr) {
                break; // its line end is the handlers' to count
            }
            make_room();
            if (!is_quote_entity(name, len)) {
                std::memcpy(out_block + out_len, name - 1, 1 + len);
                out_len += 1 + len;
            } else if (StopAtQuote) {
                quote_stop = true;
                break;
            } else {
                const quote_mark& mark = in_quote != 0 ? marks.close : marks.open;
                std::memcpy(out_block + out_len, mark.bytes, MARK_MAX);
                out_len += mark.len;
                if constexpr (Check) {
                    // The quote follows the entity's ';'.
                    if (in_quote != 0) {
                        check_quotation_closes(*st.check);
                    } else {
                        check_quotation_opens(*st.check, ';');
                    }
                }
                if (in_quote != 0) {
                    last_char = '"';
                    last_chunk = nullptr;
                }
                in_quote = ~in_quote;
            }
            in_pos += 1 + len;
            entities = true;
        }
        if (!entities || quote_stop) {
            break;
        }
        try_plain = false;
    }
    st.in.pos = in_pos;
    st.out.len = out_len;
    st.last_char = current_last_char();
    if constexpr (Check) {
        finish_chunk_check(*st.check, checking, in_block + in_pos, in_tag != 0, in_quote != 0);
    }
    if (in_tag != 0) {
        return in_quote != 0 ? open_context::tag_in_quotation : open_context::tag;
    }
    return in_quote != 0 ? open_context::quotation : open_context::top_level;
}

// Isa: scalar_parts or one derived from it.
template <class Isa>
open_context scan_chunks(scan_state& st, open_context from)
{
    const bool byte_marks = st.marks.open.len == 1 && st.marks.close.len == 1;
    if (st.check != nullptr) {
        if (from == open_context::quotation) {
            return byte_marks ? scan_chunks_as<Isa, true, false, true, true>(st)
                              : scan_chunks_as<Isa, true, false, false, true>(st);
        }
        return byte_marks ? scan_chunks_as<Isa, false, false, true, true>(st)
                          : scan_chunks_as<Isa, false, false, false, true>(st);
    }
    if (from == open_context::quotation) {
        if (st.break_tags) {
            return byte_marks ? scan_chunks_as<Isa, true, true, true>(st)
                              : scan_chunks_as<Isa, true, true, false>(st);
        }
        return byte_marks ? scan_chunks_as<Isa, true, false, true>(st)
                          : scan_chunks_as<Isa, true, false, false>(st);
    }
    if (st.break_tags) {
        return byte_marks ? scan_chunks_as<Isa, false, true, true>(st)
                          : scan_chunks_as<Isa, false, true, false>(st);
    }
    return byte_marks ? scan_chunks_as<Isa, false, false, true>(st)
                      : scan_chunks_as<Isa, false, false, false>(st);
}

} // namespace

#endif
