// A parameter file read the way the loader reads it, piece by piece, with the
// file line of each piece: the loader itself takes each line through
// param_read_lines and param_parse_line, so what this reports is what the
// update tool does, and only the bookkeeping around it is ours.
#include <cstdio>
#include <memory>
#include <vector>

#include "companion/check.h"
#include "params/encoder.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

struct Span {
    size_t start;
    size_t end;
};

// The pieces fgets makes of the content: up to 127 characters, or to and
// including a newline.
std::vector<Span> piece_spans(const std::vector<char>& content) {
    std::vector<Span> spans;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = start;
        for (int taken = 0; end < content.size() && taken < PARAM_PIECE;) {
            ++taken;
            if (content[end++] == '\n')
                break;
        }
        spans.push_back({start, end});
        start = end;
    }
    return spans;
}

bool blank_or_comment(const std::string& text) {
    for (char c : text) {
        if (c == ';')
            return true;
        if (c != ' ' && c != '\t' && c != '\r')
            return false;
    }
    return true;
}

void describe_pieces(const std::vector<char>& content, const std::vector<Span>& spans,
                     ParamFacts& facts) {
    int line = 1;
    size_t line_start = 0;
    bool comment_line = false;
    for (const Span& span : spans) {
        ParamPiece piece;
        piece.line = line;
        piece.column = int(span.start - line_start) + 1;
        piece.continuation = span.start != line_start;
        size_t end = span.end;
        while (end > span.start && (content[end - 1] == '\n' || content[end - 1] == '\r'))
            --end;
        piece.text.assign(content.data() + span.start, end - span.start);
        // The rest of a comment is comment too, and so is a piece that holds
        // only the line end of a line that filled the one before.
        if (!piece.continuation)
            comment_line = blank_or_comment(piece.text);
        piece.comment = blank_or_comment(piece.text) || (piece.continuation && comment_line);
        facts.pieces.push_back(piece);
        if (content[span.end - 1] == '\n') {
            ++line;
            line_start = span.end;
        }
    }
}

bool read_content(std::FILE* file, std::vector<char>& content) {
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.insert(content.end(), chunk, chunk + got);
        if (content.size() > TEXT_SIZE_LIMIT)
            return false;
    }
    return true;
}

// Steps over the pieces the loader's last read went through, up to the one
// that ends at `after`: that one holds the line it took. False when no piece
// ends there, which would mean this walk and the loader disagree.
bool step_to(const std::vector<Span>& spans, size_t& next, long after) {
    while (next < spans.size() && long(spans[next].end) <= after) {
        if (long(spans[next++].end) == after)
            return true;
    }
    return false;
}

void take_line(ParameterLine& line, ParamPiece& piece, bool over_cap, ParamFacts& facts) {
    piece.name = line.name;
    piece.value = line.value;
    if (over_cap) {
        piece.outcome = ParamDrop::kOverCap;
        return;
    }
    ParameterEntry entry;
    piece.outcome = param_parse_line(line, entry);
    if (piece.outcome == ParamDrop::kKept) {
        facts.entries.push_back(entry);
        facts.entry_lines.push_back(piece.line);
    }
}

}  // namespace

bool walk_parameter_file(const std::string& path, ParamFacts& facts, Finding& failure) {
    if (not_a_regular_file(path, failure))
        return false;
    // Binary, so positions are exact on every platform; the loader's text
    // mode differs only in line ends, which end a name or value alike.
    File file(open_regular_file(path.c_str(), "rb"));
    std::vector<char> content;
    if (!file) {
        failure = {"cannot-open", "cannot open the file"};
        return false;
    }
    if (!read_content(file.get(), content)) {
        failure = {"too-large", "larger than 4 MiB: no parameter file is that long"};
        return false;
    }
    std::rewind(file.get());
    facts.line_count = param_count_lines(file.get());
    facts.line_limit = facts.line_count < PARAM_LINE_CAP ? facts.line_count : PARAM_LINE_CAP;
    std::rewind(file.get());

    std::vector<Span> spans = piece_spans(content);
    describe_pieces(content, spans, facts);
    size_t next = 0;
    for (int accepted = 0;; ++accepted) {
        ParameterLine line;
        int read = param_read_lines(file.get(), 1, &line);
        if (read != 1 || !step_to(spans, next, std::ftell(file.get())))
            break;
        take_line(line, facts.pieces[next - 1], accepted >= facts.line_limit, facts);
    }
    facts.encoded_size = param_encoded_size(facts.entries.data(), int(facts.entries.size()));
    return true;
}

}  // namespace vtx::companion
