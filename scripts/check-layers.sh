#!/usr/bin/env bash
# Fails when the link graph of the project's own targets has a cycle: every
# library links only libraries below it (app -> update -> params -> flash ->
# device, and the programs and tests above them). Reads the graph of a
# configured build (cmake --graphviz) and prints each cycle it finds.
#   scripts/check-layers.sh [BUILD_DIR]   (default build/linux-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-release}
[ -f "$build/CMakeCache.txt" ] || { echo "check-layers: $build is not a configured build" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# cmake writes one extra file per target beside the graph; they stay in $work.
cmake --graphviz="$work/links.dot" "$build" >/dev/null || exit 2

# Edge lines read: "nodeA" -> "nodeB" [ style ] // from -> to
awk '
function visit(node,    i, next_node, j, cycle) {
    state[node] = 1
    path[++depth] = node
    for (i = 1; i <= degree[node]; i++) {
        next_node = edge[node, i]
        if (state[next_node] == 1) {
            cycle = next_node
            for (j = depth; path[j] != next_node; j--) {}
            for (j++; j <= depth; j++) cycle = cycle " -> " path[j]
            print "link cycle: " cycle " -> " next_node
            cycles++
        } else if (state[next_node] == 0) {
            visit(next_node)
        }
    }
    depth--
    state[node] = 2
}
/^ *"node[0-9]+" -> "node[0-9]+"/ && /\/\/ / {
    split(substr($0, index($0, "// ") + 3), names, " -> ")
    # A test program that runs itself after the build to list its cases shows
    # as an edge to itself; that is no link.
    if (names[1] == names[2]) next
    if (!(names[1] in state)) { state[names[1]] = 0; order[++count] = names[1] }
    if (!(names[2] in state)) { state[names[2]] = 0; order[++count] = names[2] }
    edge[names[1], ++degree[names[1]]] = names[2]
    edges++
}
END {
    if (edges == 0) { print "check-layers: no link graph read"; exit 2 }
    for (n = 1; n <= count; n++)
        if (state[order[n]] == 0) visit(order[n])
    if (cycles > 0) exit 1
    print "link graph: " count " targets, " edges " links, no cycle"
}' "$work/links.dot"
