#!/usr/bin/env python3
"""Writes and checks Dirvane's Windows 11 package (a package with external location: a manifest, two
logos, the block map and the content types in a ZIP), with nothing but Python's standard library.

  make-package.py build --template AppxManifest.xml.in --version 2.0.0.26 --clsid {GUID} --out P.msix
                        [--publisher "CN=..." | --pkcs12 cert.p12 [--password-file F]]
  make-package.py check P.msix --clsid {GUID} [--publisher "CN=..." | --cert cert.pem] [--ca ca.pem]
  make-package.py publisher (--pkcs12 cert.p12 [--password-file F] | --cert cert.pem)

The same inputs always give the same bytes. The package is unsigned: osslsigncode signs it
(cmake/sign-file.cmake). check exits 1 and names every fault it finds; with --ca the package must be
signed, and `osslsigncode verify` must accept it against that certificate authority.
"""
import argparse
import base64
import hashlib
import importlib.util
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
# The manifest's Publisher when no certificate is given: the unsigned package is only ever checked.
TEST_PUBLISHER = 'CN=Dirvane Test Publisher'
BLOCK_SIZE = 64 * 1024
LOCAL_HEADER = struct.Struct('<IHHHHHIIIHH')        # signature ... name length, extra length
CENTRAL_HEADER = struct.Struct('<IHHHHHHIIIHHHHHII')
END_OF_CENTRAL = struct.Struct('<IHHHHIIH')
# 1980-01-01 00:00, the earliest time a ZIP entry can carry: the package does not change with the clock.
DOS_TIME, DOS_DATE = 0, (1 << 5) | 1
MANIFEST = 'AppxManifest.xml'
BLOCK_MAP = 'AppxBlockMap.xml'
CONTENT_TYPES = '[Content_Types].xml'
SIGNATURE = 'AppxSignature.p7x'
# Footprint files: described by no block map entry.
FOOTPRINT = {BLOCK_MAP, CONTENT_TYPES, SIGNATURE, 'AppxMetadata/CodeIntegrity.cat'}
LOGOS = {'Logo44.png': 44, 'Logo150.png': 150}

NS = {
    'f': 'http://schemas.microsoft.com/appx/manifest/foundation/windows10',
    'uap': 'http://schemas.microsoft.com/appx/manifest/uap/windows10',
    'uap10': 'http://schemas.microsoft.com/appx/manifest/uap/windows10/10',
    'com': 'http://schemas.microsoft.com/appx/manifest/com/windows10',
    'desktop4': 'http://schemas.microsoft.com/appx/manifest/desktop/windows10/4',
    'desktop5': 'http://schemas.microsoft.com/appx/manifest/desktop/windows10/5',
    'bm': 'http://schemas.microsoft.com/appx/2010/blockmap',
    'ct': 'http://schemas.openxmlformats.org/package/2006/content-types',
}
SHA256_URI = 'http://www.w3.org/2001/04/xmlenc#sha256'
ITEM_TYPES = ('Directory', 'Directory\\Background')
VERB_ID = 'Dirvane'


def fail(message):
    sys.exit('make-package.py: ' + message)


# --- publisher -------------------------------------------------------------------------------------

# Short names that Windows writes differently from OpenSSL.
WINDOWS_RDN_NAMES = {'ST': 'S', 'emailAddress': 'E'}


def windows_name(rdns):
    """The distinguished name as Windows writes a certificate's subject: most specific first,
    separated by ", ", a value with a separator or quote in it inside double quotes."""
    parts = []
    for key, value in rdns:
        if any(ord(c) < 32 for c in value) or not value:
            fail('the certificate subject has an empty value or a control character: ' + repr(value))
        if re.search(r'[,+=<>#;"\n]', value) or value != value.strip():
            value = '"' + value.replace('"', '""') + '"'
        parts.append(WINDOWS_RDN_NAMES.get(key, key) + '=' + value)
    return ', '.join(parts)


def openssl(args, data=None):
    result = subprocess.run(['openssl'] + args, input=data, capture_output=True)
    if result.returncode != 0:
        fail('openssl %s failed: %s' % (args[0], result.stderr.decode(errors='replace').strip()))
    return result.stdout


def certificate_pem(pkcs12=None, password_file=None, cert=None):
    if cert:
        with open(cert, 'rb') as f:
            return f.read()
    passin = 'file:' + password_file if password_file else 'pass:' + os.environ.get('DIRVANE_SIGN_PASSWORD', '')
    return openssl(['pkcs12', '-in', pkcs12, '-passin', passin, '-clcerts', '-nokeys'])


def publisher_of(pem, field='subject'):
    """The subject (or issuer) of the (first) certificate in pem, as the manifest's Publisher must
    name it."""
    text = openssl(['x509', '-noout', '-' + field, '-nameopt', 'sep_multiline,sname,dn_rev,utf8,-esc_msb'],
                   pem).decode('utf-8')
    rdns = []
    for line in text.splitlines()[1:]:
        key, sep, value = line.strip().partition('=')
        if not sep:
            fail('cannot read the certificate subject line ' + repr(line))
        rdns.append((key, value))
    if not rdns:
        fail('the certificate has an empty subject')
    return windows_name(rdns)


def der_elements(data, at, end):
    """(tag, element start, content start, end) of each DER element between at and end."""
    while at < end:
        tag, length, content = data[at], data[at + 1], at + 2
        if length & 0x80:
            count = length & 0x7f
            length, content = int.from_bytes(data[content:content + count], 'big'), content + count
        if content + length > end:
            raise ValueError('an element runs past its container')
        yield tag, at, content, content + length
        at = content + length


def der_children(data, element):
    _, _, content, end = element
    return list(der_elements(data, content, end))


def signer_certificate(p7x, faults):
    """The certificate (DER) whose key made the package's signature: the one that the signature's
    only SignerInfo names by issuer and serial number. Other certificates may travel with it."""
    if not p7x.startswith(b'PKCX'):
        faults.append('AppxSignature.p7x does not start with PKCX')
        return None
    data = p7x[4:]
    try:
        content_info = der_children(data, next(der_elements(data, 0, len(data))))
        signed_data = der_children(data, der_children(data, content_info[1])[0])
        certificates = [der_children(data, e) for e in signed_data if e[0] == 0xA0]
        signer_infos = [der_children(data, e) for e in signed_data if e[0] == 0x31][-1]
        if len(signer_infos) != 1 or len(certificates) != 1:
            faults.append('the signature has %d signers and %d certificate sets, not one each' %
                          (len(signer_infos), len(certificates)))
            return None
        issuer, serial = der_children(data, der_children(data, signer_infos[0])[1])[:2]
        wanted = (data[issuer[1]:issuer[3]], data[serial[1]:serial[3]])
        for certificate in certificates[0]:
            fields = der_children(data, der_children(data, certificate)[0])
            fields = fields[1:] if fields[0][0] == 0xA0 else fields  # the optional version
            if (data[fields[2][1]:fields[2][3]], data[fields[0][1]:fields[0][3]]) == wanted:
                return data[certificate[1]:certificate[3]]
    except (IndexError, StopIteration, ValueError):
        faults.append('the signature cannot be read')
        return None
    faults.append('the signature does not carry the certificate of its signer')
    return None


def pem_of(der):
    text = base64.b64encode(der).decode()
    return ('-----BEGIN CERTIFICATE-----\n' + '\n'.join(text[i:i + 64] for i in range(0, len(text), 64)) +
            '\n-----END CERTIFICATE-----\n').encode()


def publisher_id(publisher):
    """The publisher's part of a package family name: the first 64 bits of the SHA-256 of its UTF-16
    text, in 13 letters of Crockford's base 32 (lower case)."""
    digest = hashlib.sha256(publisher.encode('utf-16-le')).digest()[:8]
    bits = int.from_bytes(digest, 'big') << 1
    return ''.join('0123456789abcdefghjkmnpqrstvwxyz'[(bits >> (60 - 5 * i)) & 31] for i in range(13))


# --- the package's parts ---------------------------------------------------------------------------

def png(size, grid, colours):
    """A square RGBA PNG of the pixel grid scaled to size (nearest neighbour)."""
    rows = []
    for y in range(size):
        line = grid[y * len(grid) // size]
        row = bytearray(b'\0')  # filter: none
        for x in range(size):
            letter = line[x * len(line) // size]
            row += bytes(colours[letter]) + b'\xff' if letter in colours else b'\0\0\0\0'
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b''))


def logos():
    spec = importlib.util.spec_from_file_location('make_images', os.path.join(HERE, 'make-images.py'))
    images = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(images)
    return {name: png(size, images.PRODUCT_ICON, images.COLOURS) for name, size in LOGOS.items()}


def xml_attribute(text):
    return (text.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')
            .replace('"', '&quot;'))


def manifest(template, version, publisher, clsid):
    if not re.fullmatch(r'\d{1,5}(\.\d{1,5}){3}', version) or any(int(p) > 65535 for p in version.split('.')):
        fail('a package version has four numbers of 0 to 65535: ' + version)
    with open(template, encoding='utf-8') as f:
        text = f.read()
    for key, value in (('@VERSION@', version), ('@PUBLISHER@', xml_attribute(publisher)),
                       ('@COMMAND_CLSID@', clsid)):
        if key not in text:
            fail('the template lacks ' + key)
        text = text.replace(key, value)
    return text.encode('utf-8')


def block_hashes(data):
    return [base64.b64encode(hashlib.sha256(data[at:at + BLOCK_SIZE]).digest()).decode()
            for at in range(0, len(data), BLOCK_SIZE)]


def local_header_size(name):
    return LOCAL_HEADER.size + len(name.encode('utf-8'))


def block_map(parts):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<BlockMap xmlns="%s" HashMethod="%s">' % (NS['bm'], SHA256_URI)]
    for name, data in parts:
        lines.append('<File Name="%s" Size="%d" LfhSize="%d">' % (
            xml_attribute(name.replace('/', '\\')), len(data), local_header_size(name)))
        lines += ['<Block Hash="%s"/>' % h for h in block_hashes(data)]
        lines.append('</File>')
    lines.append('</BlockMap>')
    return '\r\n'.join(lines).encode('utf-8')


def content_types():
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<Types xmlns="%s">'
            '<Default Extension="png" ContentType="image/png"/>'
            '<Override PartName="/AppxManifest.xml" ContentType="application/vnd.ms-appx.manifest+xml"/>'
            '<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>'
            '</Types>' % NS['ct']).encode('utf-8')


def write_zip(path, parts, deflated=(CONTENT_TYPES,)):
    """Sizes and CRC in the local headers (no data descriptors), no ZIP64, fixed times: the form
    packaging tools read without surprises. The parts that the block map describes are stored, so
    that their blocks need no compressed sizes. [Content_Types].xml is deflated: osslsigncode 2.9
    rewrites it deflated when it signs, but keeps the method of the entry it replaces."""
    out, central = bytearray(), bytearray()
    for name, data in parts:
        raw = name.encode('utf-8')
        method, packed = 0, data
        if name in deflated:
            deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
            method, packed = 8, deflate.compress(data) + deflate.flush()
        if len(data) >= 0xFFFFFFFF or len(out) >= 0xFFFFFFFF:
            fail('a part would need ZIP64: ' + name)
        crc = zlib.crc32(data)
        central += CENTRAL_HEADER.pack(0x02014b50, 20, 20, 0, method, DOS_TIME, DOS_DATE, crc, len(packed),
                                       len(data), len(raw), 0, 0, 0, 0, 0, len(out)) + raw
        out += LOCAL_HEADER.pack(0x04034b50, 20, 0, method, DOS_TIME, DOS_DATE, crc, len(packed), len(data),
                                 len(raw), 0) + raw + packed
    out += central + END_OF_CENTRAL.pack(0x06054b50, 0, 0, len(parts), len(parts), len(central), len(out), 0)
    temp = path + '.tmp'
    with open(temp, 'wb') as f:
        f.write(out)
    os.replace(temp, path)


def build(args):
    if args.publisher:
        publisher = args.publisher
    elif args.pkcs12:
        publisher = publisher_of(certificate_pem(args.pkcs12, args.password_file))
    else:
        publisher = TEST_PUBLISHER
    payload = [(MANIFEST, manifest(args.template, args.version, publisher, clsid_text(args.clsid)))]
    payload += sorted(logos().items())
    write_zip(args.out, payload + [(BLOCK_MAP, block_map(payload)), (CONTENT_TYPES, content_types())])
    # The setup records the family of the package it registered, and its uninstaller removes only that.
    identity = ET.fromstring(payload[0][1]).find('f:Identity', NS)
    with open(args.out + '.family', 'w', encoding='ascii') as f:
        f.write('%s_%s' % (identity.get('Name'), publisher_id(identity.get('Publisher'))))


def clsid_text(clsid):
    """The class identifier as the manifest writes it: no braces."""
    text = clsid.strip('{}').upper()
    if not re.fullmatch(r'[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}', text):
        fail('not a class identifier: ' + clsid)
    return text


# --- the checker -----------------------------------------------------------------------------------

def read_zip(data, faults):
    """The parts of the ZIP in data, in central directory order, as (name, bytes, local header size);
    faults gets what breaks the rules that the package format adds to ZIP's."""
    at = data.rfind(b'PK\x05\x06')
    if at < 0 or at + END_OF_CENTRAL.size > len(data):
        faults.append('no end of central directory')
        return []
    _, disk, _, _, count, size, offset, comment = END_OF_CENTRAL.unpack_from(data, at)
    if disk != 0 or offset + size > at:
        faults.append('a split or broken central directory')
        return []
    parts, names, pos = [], set(), offset
    for _ in range(count):
        if pos + CENTRAL_HEADER.size > len(data):
            faults.append('the central directory is cut short')
            break
        (sig, _, _, flags, method, _, _, crc, csize, usize, nlen, xlen, clen, _, _, _,
         local) = CENTRAL_HEADER.unpack_from(data, pos)
        name = data[pos + CENTRAL_HEADER.size:pos + CENTRAL_HEADER.size + nlen].decode('utf-8', 'replace')
        pos += CENTRAL_HEADER.size + nlen + xlen + clen
        if sig != 0x02014b50:
            faults.append('a broken central directory entry')
            break
        if name.lower() in names:
            faults.append('two parts named ' + name)
        names.add(name.lower())
        if '\\' in name or any(s in ('', '.', '..') for s in name.split('/')):
            faults.append('a part name that is not a plain path inside the package: ' + repr(name))
        elif any(s.endswith('.') for s in name.split('/')):
            faults.append('a part name with a segment ending in a dot: ' + repr(name))
        if 0xFFFFFFFF in (csize, usize, local):
            faults.append(name + ': ZIP64 where nothing needs it')
            continue
        if local + LOCAL_HEADER.size > len(data):
            faults.append(name + ': its local header lies outside the file')
            continue
        (lsig, _, lflags, lmethod, _, _, lcrc, lcsize, lusize, lnlen, lxlen) = LOCAL_HEADER.unpack_from(data, local)
        lname = data[local + LOCAL_HEADER.size:local + LOCAL_HEADER.size + lnlen].decode('utf-8', 'replace')
        if lsig != 0x04034b50 or lname != name or lmethod != method:
            faults.append(name + ': its local header does not match the central directory')
            continue
        if flags & 1:
            faults.append(name + ': encrypted')
            continue
        start = local + LOCAL_HEADER.size + lnlen + lxlen
        raw = data[start:start + csize]
        if method == 0:
            content = raw
        elif method == 8:
            try:
                content = zlib.decompress(raw, -15)
            except zlib.error:
                faults.append(name + ': its deflated data is broken')
                continue
        else:
            faults.append('%s: compression method %d' % (name, method))
            continue
        if method != 0 and name not in FOOTPRINT:
            faults.append(name + ': compressed; the block map would need the size of each compressed block')
        if len(content) != usize or zlib.crc32(content) != crc:
            faults.append(name + ': its size or CRC does not match its data')
        if not lflags & 8 and (lcrc, lcsize, lusize) != (crc, csize, usize):
            faults.append(name + ': its local header gives other sizes or CRC than the central directory')
        parts.append((name, content, LOCAL_HEADER.size + lnlen + lxlen))
    return parts


def parse_xml(name, data, faults):
    if b'<!DOCTYPE' in data:  # Windows' package reader refuses one; Python's would expand its entities
        faults.append(name + ' has a document type declaration')
        return None
    try:
        return ET.fromstring(data)
    except ET.ParseError as error:
        faults.append('%s is not well-formed XML: %s' % (name, error))
        return None


def check_manifest(root, clsid, publisher, part_names, faults):
    def one(path, what):
        found = root.findall(path, NS)
        if len(found) != 1:
            faults.append('the manifest has %d %s, not one' % (len(found), what))
            return None
        return found[0]

    identity = one('f:Identity', 'Identity')
    if identity is not None and publisher is not None and identity.get('Publisher') != publisher:
        faults.append('the manifest names the publisher %r, not %r' % (identity.get('Publisher'), publisher))
    external = one('f:Properties/uap10:AllowExternalContent', 'uap10:AllowExternalContent')
    if external is not None and (external.text or '').strip() != 'true':
        faults.append('uap10:AllowExternalContent is not true')
    logo = one('f:Properties/f:Logo', 'Logo')
    family = one("f:Dependencies/f:TargetDeviceFamily[@Name='Windows.Desktop']", 'Windows.Desktop device family')
    if family is not None:
        version = tuple(int(p) for p in re.findall(r'\d+', family.get('MinVersion', '')))
        if version < (10, 0, 22000, 0):
            faults.append('the package is offered before Windows 11: MinVersion ' + family.get('MinVersion', ''))
    app = one('f:Applications/f:Application', 'Application')
    if app is None:
        return
    if (app.get('{%s}TrustLevel' % NS['uap10']), app.get('{%s}RuntimeBehavior' % NS['uap10'])) != ('mediumIL', 'win32App'):
        faults.append('the application does not run as a medium-integrity Win32 program')
    if not app.get('Executable'):
        faults.append('the application names no executable')
    visuals = one('f:Applications/f:Application/uap:VisualElements', 'VisualElements')
    for element, attribute in ((logo, None), (visuals, 'Square150x150Logo'), (visuals, 'Square44x44Logo')):
        if element is None:
            continue
        name = element.text if attribute is None else element.get(attribute)
        if (name or '').replace('\\', '/') not in part_names:
            faults.append('the logo %r is not in the package' % name)
    classes = app.findall('f:Extensions/com:Extension/com:ComServer/com:SurrogateServer/com:Class', NS)
    if [(c.get('Id', '').upper(), c.get('Path')) for c in classes] != [(clsid, 'Dirvane.dll')]:
        faults.append('the COM server does not declare exactly our class in Dirvane.dll: %r' %
                      [(c.get('Id'), c.get('Path')) for c in classes])
    menus = app.findall('f:Extensions/desktop4:Extension/desktop4:FileExplorerContextMenus/desktop5:ItemType', NS)
    found = {}
    for item in menus:
        found[item.get('Type')] = [(v.get('Id'), v.get('Clsid', '').upper()) for v in item.findall('desktop5:Verb', NS)]
    expected = {t: [(VERB_ID, clsid)] for t in ITEM_TYPES}
    if found != expected:
        faults.append('the context menu item types are %r, not %r' % (found, expected))


def check_block_map(root, parts, faults):
    if root.tag != '{%s}BlockMap' % NS['bm'] or root.get('HashMethod') != SHA256_URI:
        faults.append('the block map is not a SHA-256 block map')
        return
    described = {}
    for entry in root.findall('bm:File', NS):
        name = entry.get('Name', '').replace('\\', '/')
        if name in described:
            faults.append('the block map describes %s twice' % name)
        described[name] = entry
    for name, data, header in parts:
        if name in FOOTPRINT:
            continue
        entry = described.pop(name, None)
        if entry is None:
            faults.append('the block map does not describe ' + name)
            continue
        if entry.get('Size') != str(len(data)) or entry.get('LfhSize') != str(header):
            faults.append('the block map gives %s other sizes' % name)
        blocks = entry.findall('bm:Block', NS)
        if any(b.get('Size') is not None for b in blocks):
            faults.append('the block map gives compressed block sizes for %s, which is stored' % name)
        hashes = [b.get('Hash') for b in blocks]
        if hashes != block_hashes(data):
            faults.append('the block hashes of %s do not match its content' % name)
    for name in described:
        faults.append('the block map describes %s, which is not in the package' % name)


# What Windows requires of the footprint parts' content types; payload parts may have any.
FOOTPRINT_TYPES = {
    MANIFEST: 'application/vnd.ms-appx.manifest+xml',
    BLOCK_MAP: 'application/vnd.ms-appx.blockmap+xml',
    SIGNATURE: 'application/vnd.ms-appx.signature',
    'AppxMetadata/CodeIntegrity.cat': 'application/vnd.ms-pkiseccat',
}


def check_content_types(root, parts, faults):
    if root.tag != '{%s}Types' % NS['ct']:
        faults.append('[Content_Types].xml is not a list of content types')
        return
    types = {}
    for kind, key in (('Default', 'Extension'), ('Override', 'PartName')):
        for element in root.findall('ct:' + kind, NS):
            name = (kind, element.get(key, '').lower())
            if name in types:
                faults.append('[Content_Types].xml gives two types for %s %s' % name)
            types[name] = element.get('ContentType')
    for name, _, _ in parts:
        if name == CONTENT_TYPES:
            continue
        found = types.get(('Override', '/' + name.lower()), types.get(('Default', name.rpartition('.')[2].lower())))
        if found is None:
            faults.append('no content type covers ' + name)
        elif name in FOOTPRINT_TYPES and found != FOOTPRINT_TYPES[name]:
            faults.append('%s has the content type %r, not %r' % (name, found, FOOTPRINT_TYPES[name]))


def check(args):
    with open(args.package, 'rb') as f:
        data = f.read()
    faults = []
    parts = read_zip(data, faults)
    by_name = {name: content for name, content, _ in parts}
    for required in (MANIFEST, BLOCK_MAP, CONTENT_TYPES):
        if required not in by_name:
            faults.append('the package has no ' + required)
    publisher = args.publisher or (publisher_of(certificate_pem(cert=args.cert)) if args.cert else None)
    roots = {name: parse_xml(name, by_name[name], faults) for name in (MANIFEST, BLOCK_MAP, CONTENT_TYPES)
             if name in by_name}
    if roots.get(MANIFEST) is not None:
        check_manifest(roots[MANIFEST], clsid_text(args.clsid), publisher, set(by_name), faults)
    if roots.get(BLOCK_MAP) is not None:
        check_block_map(roots[BLOCK_MAP], parts, faults)
    if roots.get(CONTENT_TYPES) is not None:
        check_content_types(roots[CONTENT_TYPES], parts, faults)
    if SIGNATURE in by_name and roots.get(MANIFEST) is not None:
        identity = roots[MANIFEST].find('f:Identity', NS)
        named = identity.get('Publisher') if identity is not None else None
        signer = signer_certificate(by_name[SIGNATURE], faults)
        signed_by = publisher_of(pem_of(signer)) if signer is not None else None
        if signer is not None and named != signed_by:
            faults.append('the manifest names the publisher %r, the signer is %r' % (named, signed_by))
    if args.ca:
        if SIGNATURE not in by_name:
            faults.append('the package is not signed')
        else:
            result = subprocess.run(['osslsigncode', 'verify', '-in', args.package, '-CAfile', args.ca],
                                    capture_output=True, text=True)
            if result.returncode != 0:
                faults.append('osslsigncode does not accept the signature:\n' + result.stdout + result.stderr)
    elif SIGNATURE in by_name and args.unsigned:
        faults.append('the package is signed')
    for fault in faults:
        print('check: ' + fault, file=sys.stderr)
    if faults:
        sys.exit(1)
    state = 'signed and verified' if args.ca else 'signed, not verified' if SIGNATURE in by_name else 'unsigned'
    print('%s: %d parts, %s' % (args.package, len(parts), state))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    b = commands.add_parser('build')
    b.add_argument('--template', required=True)
    b.add_argument('--version', required=True)
    b.add_argument('--clsid', required=True)
    b.add_argument('--out', required=True)
    b.add_argument('--publisher')
    b.add_argument('--pkcs12')
    b.add_argument('--password-file')
    c = commands.add_parser('check')
    c.add_argument('package')
    c.add_argument('--clsid', required=True)
    c.add_argument('--publisher')
    c.add_argument('--cert', help='PEM certificate whose subject the manifest must name')
    c.add_argument('--ca', help='PEM certificate authority: the package must be signed, and verify')
    c.add_argument('--unsigned', action='store_true', help='the package must carry no signature')
    p = commands.add_parser('publisher')
    p.add_argument('--pkcs12')
    p.add_argument('--password-file')
    p.add_argument('--cert')
    args = parser.parse_args()
    if args.command == 'build':
        build(args)
    elif args.command == 'check':
        check(args)
    else:
        if not (args.pkcs12 or args.cert):
            fail('publisher needs --pkcs12 or --cert')
        print(publisher_of(certificate_pem(args.pkcs12, args.password_file, args.cert)))


if __name__ == '__main__':
    main()
