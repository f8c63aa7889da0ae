# Builds corvalink.ico from ui/qt/res/corvalink.svg: a 32 x 32 image of 16 colours (what the
# dialogs show), a 48 x 48 and a 256 x 256 one. Run from a scratch folder after
#   S=ui/qt/res
#   convert -background none $S/corvalink.svg -resize 32x32 -alpha extract -threshold 50% -depth 8 gray:mask32.raw
#   convert -background none $S/corvalink.svg -resize 32x32 -background black -alpha remove +dither -colors 16 -depth 8 rgb:rgb32.raw
#   convert -background none $S/corvalink.svg -resize 48x48 -depth 8 rgba:rgba48.raw
#   convert -background none $S/corvalink.svg -resize 256x256 png32:i256.png
# as: python3 make_icon.py corvalink.ico
import struct, sys
def dib4(rgb, mask, n):
    px = [tuple(rgb[i*3:i*3+3]) for i in range(n*n)]
    pal = sorted(set(px))
    assert len(pal) <= 16, len(pal)
    pal += [(0,0,0)] * (16 - len(pal))
    idx = {c: i for i, c in enumerate(pal)}
    hdr = struct.pack('<IiiHHIIiiII', 40, n, 2*n, 1, 4, 0, 0, 0, 0, 16, 0)
    palb = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in pal)
    xor = b''
    for y in range(n-1, -1, -1):  # bottom-up
        row = [idx[px[y*n+x]] for x in range(n)]
        xor += bytes((row[x] << 4) | row[x+1] for x in range(0, n, 2))
    andm = b''
    stride = ((n + 31)//32)*4
    for y in range(n-1, -1, -1):
        bits = 0; out = bytearray(stride)
        for x in range(n):
            if mask[y*n+x] < 128: out[x//8] |= 0x80 >> (x % 8)
        andm += bytes(out)
    return hdr + palb + xor + andm
def dib32(rgba, n):
    hdr = struct.pack('<IiiHHIIiiII', 40, n, 2*n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''
    for y in range(n-1, -1, -1):
        for x in range(n):
            r, g, b, a = rgba[(y*n+x)*4:(y*n+x)*4+4]
            xor += bytes((b, g, r, a))
    stride = ((n + 31)//32)*4
    andm = b''
    for y in range(n-1, -1, -1):
        out = bytearray(stride)
        for x in range(n):
            if rgba[(y*n+x)*4+3] < 128: out[x//8] |= 0x80 >> (x % 8)
        andm += bytes(out)
    return hdr + xor + andm
imgs = [(32, 16, 4, dib4(open('rgb32.raw','rb').read(), open('mask32.raw','rb').read(), 32)),
        (48, 0, 32, dib32(open('rgba48.raw','rb').read(), 48)),
        (0, 0, 32, open('i256.png','rb').read())]
out = struct.pack('<HHH', 0, 1, len(imgs))
off = 6 + 16*len(imgs)
for (n, colors, bpp, data) in imgs:
    out += struct.pack('<BBBBHHII', n, n, colors, 0, 1, bpp, len(data), off)
    off += len(data)
for (_, _, _, data) in imgs: out += data
open(sys.argv[1], 'wb').write(out)
