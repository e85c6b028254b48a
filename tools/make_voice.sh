#!/usr/bin/env bash
# Regenerates quorvane/voice/data/voice.dat: the hour clips H00 to H11 and the
# minute clips M00 to M59 (every minute, for "今の時刻を話す"), spoken by Open JTalk with the HTS voice
# "nitech-jp-atr503-m001" (CC BY 3.0, Nagoya Institute of Technology), so
# that an hour clip followed by a minute clip is one sentence: "十二時ちょうどです".
# Installs the speech engine from Debian (the voice is in contrib).
set -euo pipefail
cd "$(dirname "$0")/.."
out=quorvane/voice/data/voice.dat
rate=16000

if ! dpkg-query -W hts-voice-nitech-jp-atr503-m001 >/dev/null 2>&1; then
  grep -q contrib /etc/apt/sources.list.d/debian.sources \
    || sed -i 's/^Components: main$/Components: main contrib/' /etc/apt/sources.list.d/debian.sources
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq open-jtalk open-jtalk-mecab-naist-jdic \
    hts-voice-nitech-jp-atr503-m001 sox >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
voice=/usr/share/hts-voice/nitech-jp-atr503-m001/nitech_jp_atr503_m001.htsvoice
dict=/var/lib/mecab/dic/open-jtalk/naist-jdic

# name, text, silence before and after (seconds)
clips=(
  "H00 じゅうにじ 0.05 0"  "H01 いちじ 0.05 0"    "H02 にじ 0.05 0"     "H03 さんじ 0.05 0"
  "H04 よじ 0.05 0"        "H05 ごじ 0.05 0"      "H06 ろくじ 0.05 0"   "H07 しちじ 0.05 0"
  "H08 はちじ 0.05 0"      "H09 くじ 0.05 0"      "H10 じゅうじ 0.05 0" "H11 じゅういちじ 0.05 0"
  "M00 ちょうどです 0.04 0.25"  "M30 さんじゅっぷんです 0.04 0.25"
)
# The other minutes, read as a clock reads them: "じゅういっぷんです",
# "にじゅうさんぷんです", "よんじゅっぷんです". They come after the clips above,
# which stay as they were.
tens=("" "じゅう" "にじゅう" "さんじゅう" "よんじゅう" "ごじゅう")
units=("" "いっぷん" "にふん" "さんぷん" "よんぷん" "ごふん" "ろっぷん" "ななふん" "はっぷん" "きゅうふん")
for minute in $(seq 1 59); do
  [ "$minute" -eq 30 ] && continue
  ten=$((minute / 10)) unit=$((minute % 10))
  if [ "$unit" -eq 0 ]; then text="${tens[$ten]%う}っぷん"; else text="${tens[$ten]}${units[$unit]}"; fi
  clips+=("$(printf 'M%02d' "$minute") ${text}です 0.04 0.25")
done
# Clips that voice.dat already holds stay byte for byte (sox dithers afresh
# on every run); QV_VOICE_FRESH=1 makes every clip anew.
kept=""
[ "${QV_VOICE_FRESH:-0}" = 1 ] || [ ! -f "$out" ] || kept=$(python3 tools/pack_voice.py --names "$out")
args=()
for clip in "${clips[@]}"; do
  read -r name text before after <<<"$clip"
  if grep -qx "$name" <<<"$kept"; then
    args+=("$name=@$out")
    continue
  fi
  echo "$text" | open_jtalk -x "$dict" -m "$voice" -ow "$work/$name.raw.wav"
  # Trim the engine's silence, then add the short pauses that join the two
  # clips into one sentence; 16 kHz mono 16-bit keeps speech clear and small.
  sox "$work/$name.raw.wav" -r $rate -c 1 -b 16 "$work/$name.wav" \
    silence 1 0.01 0.3% reverse silence 1 0.01 0.3% reverse pad "$before" "$after"
  args+=("$name=$work/$name.wav")
done
python3 tools/pack_voice.py "$out" "${args[@]}"
