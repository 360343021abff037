#!/usr/bin/env python3
"""Makes the program's three notification sounds (resources/sounds/101.wav, 102.wav, 103.wav).

Each is a 16-bit PCM mono WAV at 22050 Hz, synthesised here from sine tones with short fade-in
and exponential fade-out envelopes (so that nothing clicks), about a third of a second long:

  101  a web page arrived instead of a document: two rising tones, 660 Hz then 880 Hz
  102  the whole download list has finished: a short chime, 523, 659 and 784 Hz notes
       (C5, E5, G5) each ringing on under the next
  103  a download failed: a low tone sliding down from 260 Hz to 180 Hz, with a soft overtone

Plain Python, no libraries, deterministic: running it again gives the same bytes.
Usage: python3 tools/art/make_sounds.py [output folder]   (default: resources/sounds)
"""
import math
import os
import struct
import sys

RATE = 22050


def envelope(t, length, attack=0.008, decay=6.0):
    """Fade in over `attack` seconds, then die away exponentially, reaching silence at `length`."""
    if t < 0 or t >= length:
        return 0.0
    rise = min(1.0, t / attack)
    tail = math.exp(-decay * t / length)
    # Pull the very end to zero so that the sample stream stops without a step.
    end = min(1.0, (length - t) / 0.01)
    return rise * tail * end


def tone(freq, start, length, amp, decay=3.0):
    def f(t):
        local = t - start
        return amp * envelope(local, length, decay=decay) * math.sin(2 * math.pi * freq * local)
    return f


def slide(f0, f1, length, amp):
    """A tone whose pitch moves from f0 to f1, with a quieter octave above it."""
    def f(t):
        if t >= length:
            return 0.0
        # phase of a linearly changing frequency
        phase = 2 * math.pi * (f0 * t + (f1 - f0) * t * t / (2 * length))
        e = envelope(t, length, attack=0.012, decay=2.5)
        return amp * e * (math.sin(phase) + 0.25 * math.sin(2 * phase))
    return f


SOUNDS = {
    101: (0.34, [tone(660, 0.00, 0.16, 0.55), tone(880, 0.17, 0.17, 0.55)]),
    102: (0.37, [tone(523.25, 0.00, 0.37, 0.35, decay=4.0),
                 tone(659.25, 0.09, 0.28, 0.35, decay=4.0),
                 tone(783.99, 0.18, 0.19, 0.40, decay=3.0)]),
    103: (0.33, [slide(260, 180, 0.33, 0.6)]),
}


def render(duration, parts):
    frames = bytearray()
    for n in range(int(duration * RATE)):
        t = n / RATE
        v = sum(p(t) for p in parts)
        v = max(-1.0, min(1.0, v))
        frames += struct.pack('<h', int(round(v * 32767)))
    return bytes(frames)


def wav(pcm):
    header = b'RIFF' + struct.pack('<I', 36 + len(pcm)) + b'WAVE'
    fmt = b'fmt ' + struct.pack('<IHHIIHH', 16, 1, 1, RATE, RATE * 2, 2, 16)
    data = b'data' + struct.pack('<I', len(pcm)) + pcm
    return header + fmt + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', '..', 'resources', 'sounds')
    os.makedirs(out, exist_ok=True)
    for sound_id, (duration, parts) in SOUNDS.items():
        path = os.path.join(out, f'{sound_id}.wav')
        with open(path, 'wb') as f:
            f.write(wav(render(duration, parts)))
        print(path, os.path.getsize(path), 'bytes')


if __name__ == '__main__':
    main()
