#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/, makes seed corpora
# from real inputs and runs each target for a while.
#
#   tests/hardening/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Corpora and findings stay in build-fuzz/fuzz/ (crash-*, timeout-* files
# there are inputs to turn into regression tests).
set -euo pipefail
cd "$(dirname "$0")/../../.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(outputreader entryrows curloutput updatelist text archive container rar5 rar3 legacy)
# The RAR layers' own targets (helper/container/fuzz, helper/rar/fuzz) go by other names.
binary() {
    case "$1" in
    container) echo rarcontainer_fuzz ;;
    rar5) echo rar5decoder_fuzz ;;
    rar3) echo rar3decoder_fuzz ;;
    legacy) echo legacydecoder_fuzz ;;
    *) echo "fuzz_$1" ;;
    esac
}
fixtures=${VORLO_FIXTURES_DIR:-$PWD/../shared/fixtures}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORLO_FUZZ=ON -DBUILD_TESTING=ON -DVORLO_FIXTURES_DIR="$fixtures" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target unrar rar_decoder_tests rar3_decoder_tests legacy_decoder_tests $(for t in "${targets[@]}"; do binary "$t"; done)

work=build-fuzz/fuzz
mkdir -p "$work"
seed() { mkdir -p "$work/seed-$1"; }

# Real helper output (listings and extractions of the fixtures), real entry
# lists, real archives, the credits, update lists, curl's own progress bar.
seed outputreader; seed entryrows; seed archive; seed text; seed updatelist; seed curloutput; seed container; seed rar5; seed rar3; seed legacy
# The RAR decoders get the fixtures' packed entries, not whole archives.
[ -d "$fixtures/rar" ] && build-fuzz/bin/rar_decoder_tests --fuzz-seeds "$work/seed-rar5" >/dev/null
[ -d "$fixtures/rar" ] && build-fuzz/bin/rar3_decoder_tests --fuzz-seeds "$work/seed-rar3" >/dev/null
[ -d "$fixtures/rar" ] && build-fuzz/bin/legacy_decoder_tests --fuzz-seeds "$work/seed-legacy" >/dev/null
if [ -d "$fixtures/rar" ]; then
    n=0
    while IFS= read -r -d '' archive; do
        [ "$(stat -c %s "$archive")" -gt 65536 ] && continue
        n=$((n + 1))
        cp "$archive" "$work/seed-archive/$n.rar"
        cp "$archive" "$work/seed-container/$n.rar"
        (cd "$(dirname "$archive")" && timeout 10 "$OLDPWD/build-fuzz/libexec/vorlo/unrar" vb -v "$(basename "$archive")" \
            </dev/null >"$OLDPWD/$work/seed-entryrows/$n" 2>&1 || true)
        printf '\001\007' | cat - "$work/seed-entryrows/$n" >"$work/seed-outputreader/list$n"
        dest=$(mktemp -d)
        { printf '\000\020'; timeout 10 build-fuzz/libexec/vorlo/unrar x "$archive" "$dest" -o+ </dev/null 2>&1 || true; } \
            >"$work/seed-outputreader/x$n"
        rm -rf "$dest"
    done < <(find "$fixtures/rar" -type f -print0 | sort -z)
fi
# RAR 1.4 archives (no fixture has one), whole, cut and flipped.
[ -f "$fixtures/rar/sharpcompress/Rar15.rar" ] \
    && python3 helper/tests/test_rar14.py --fuzz-seeds "$work/seed-container" "$fixtures"
cp resources/credits.rtf "$work/seed-text/"
printf 'see www.vorlo.example, mail dev@vorlo.example or https://vorlo.example/a?b=c#d.\n' >"$work/seed-text/plain"
cat >"$work/seed-updatelist/list.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>lastVersion</key><string>1.2.0</string>
  <key>dateSortie</key><string>2026-12-01</string>
  <key>sysMin</key><string>Debian 12</string>
  <key>tailleTotale</key><string>12.5</string>
  <key>link</key><string>https://updates.vorlo.invalid/vorlo-1.2.0.deb</string>
  <key>notes</key><array><string>Faster listing</string><string>Fixes</string></array>
</dict>
</plist>
XML
printf '\r######                                                      9.5%%' >"$work/seed-curloutput/bar"
printf '\r########################################################## 100.0%%\ncurl: (6) Could not resolve host: x\n' \
    >"$work/seed-curloutput/end"

for target in "${targets[@]}"; do
    mkdir -p "$work/corpus-$target"
    echo "== $(binary "$target") for ${seconds}s"
    (cd "$work" && ASAN_OPTIONS=allocator_may_return_null=1:quarantine_size_mb=16 "../bin/$(binary "$target")" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=2048 -max_len=262144 -print_final_stats=1 \
        "corpus-$target" "seed-$target" 2>&1 | tail -n 12) || echo "fuzz_$target stopped with a finding"
done
