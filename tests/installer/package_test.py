#!/usr/bin/env python3
"""The Windows 11 package as the build writes it, read back by the checker: the normal build's unsigned
package, one signed with a test certificate made here, and broken copies that the checker must refuse.

  package_test.py test <make-package.py> <template> <unsigned package> <clsid> <work folder>
  package_test.py make-signed <make-package.py> <template> <version> <clsid> <out package>
"""
import importlib.util
import os
import re
import subprocess
import sys
import tempfile

# A subject with a comma and a quote: the manifest must name it as Windows writes it.
TEST_SUBJECT = '/C=DE/O=Ostrelan, "Test" Publishing/CN=Dirvane Package Test'
# The build's own signing step, so that the test signs the package as a release is signed.
SIGN_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'cmake', 'sign-file.cmake')


def run(args, expect_ok=True):
    result = subprocess.run(args, capture_output=True, text=True)
    if (result.returncode == 0) != expect_ok:
        sys.exit('%s\nexit %d\n%s%s' % (' '.join(args), result.returncode, result.stdout, result.stderr))
    return result


def make_certificate(folder, subject=TEST_SUBJECT):
    """A self-signed code-signing certificate (its own authority) and its PKCS#12 without password."""
    key, cert, p12 = (os.path.join(folder, n) for n in ('test.key', 'test.pem', 'test.p12'))
    if not os.path.exists(p12):
        run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
             '-days', '3650', '-subj', subject, '-addext', 'extendedKeyUsage=codeSigning',
             '-addext', 'keyUsage=critical,digitalSignature', '-addext', 'basicConstraints=CA:FALSE'])
        run(['openssl', 'pkcs12', '-export', '-inkey', key, '-in', cert, '-out', p12, '-passout', 'pass:'])
    return cert, p12


def make_signed(tool, template, version, clsid, out):
    cert, p12 = make_certificate(os.path.dirname(os.path.abspath(out)))
    unsigned = out + '.unsigned'
    run([sys.executable, tool, 'build', '--template', template, '--version', version, '--clsid', clsid,
         '--out', unsigned, '--pkcs12', p12])
    run(['cmake', '-DFILE=' + unsigned, '-DPKCS12=' + p12, '-P', SIGN_SCRIPT])  # signs in place
    os.replace(unsigned, out)
    os.replace(unsigned + '.family', out + '.family')
    return cert


def load_tool(tool):
    spec = importlib.util.spec_from_file_location('make_package', tool)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def broken_copies(pkg, source, work):
    """Copies of the unsigned package, each with one fault that the checker must name."""
    faults = []
    parts = pkg.read_zip(open(source, 'rb').read(), faults)
    assert not faults, faults
    parts = [(name, data) for name, data, _ in parts]

    def rewrite(name, change):
        return [(n, change(d) if n == name else d) for n, d in parts]

    def remapped(changed):  # with a block map that matches the changed parts
        payload = [(n, d) for n, d in changed if n not in pkg.FOOTPRINT]
        return [(n, pkg.block_map(payload) if n == pkg.BLOCK_MAP else d) for n, d in changed]
    typed_as_xml = b'<Default Extension="xml" ContentType="application/xml"/><Default Extension="png"'
    cases = {
        'a logo changed after the block map was written': rewrite('Logo44.png', lambda d: d[:-1] + b'\0'),
        'another class in the manifest': rewrite(pkg.MANIFEST, lambda d: d.replace(b'5B3C8E1A', b'5B3C8E1B')),
        'a menu item type dropped': rewrite(pkg.MANIFEST,
                                            lambda d: d.replace(b'Type="Directory\\Background"', b'Type=".txt"')),
        'external content switched off': rewrite(pkg.MANIFEST, lambda d: d.replace(
            b'<uap10:AllowExternalContent>true', b'<uap10:AllowExternalContent>false')),
        'a part no content type covers': parts + [('notes.txt', b'x')],
        'a part the block map does not describe': parts[:1] + [('Extra.png', b'x')] + parts[1:],
        'a part outside the package': parts + [('../evil.png', b'x')],
        'the manifest typed as plain XML': rewrite(pkg.CONTENT_TYPES, lambda d: re.sub(
            rb'<Override[^>]*/>', b'', d).replace(b'<Default Extension="png"', typed_as_xml)),
        'a compressed block size for a stored part': rewrite(pkg.BLOCK_MAP, lambda d: d.replace(
            b'<Block Hash=', b'<Block Size="9" Hash=', 1)),
        'a document type in the manifest': remapped(rewrite(pkg.MANIFEST, lambda d: d.replace(
            b'<Package', b'<!DOCTYPE Package []><Package', 1))),
    }
    deflated = {'a logo compressed without block sizes': (pkg.CONTENT_TYPES, 'Logo44.png')}
    cases.update({what: parts for what in deflated})
    for index, (what, case) in enumerate(cases.items()):
        path = os.path.join(work, 'broken-%d.msix' % index)
        pkg.write_zip(path, case, deflated.get(what, (pkg.CONTENT_TYPES,)))
        yield what, path


def test(tool, template, unsigned, clsid, work):
    os.makedirs(work, exist_ok=True)
    pkg = load_tool(tool)
    # Microsoft's own publisher and the hash that every one of its package family names carries.
    assert pkg.publisher_id('CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US') \
        == '8wekyb3d8bbwe'
    check = [sys.executable, tool, 'check', '--clsid', clsid]
    run(check + [unsigned, '--unsigned', '--publisher', pkg.TEST_PUBLISHER])
    with tempfile.TemporaryDirectory(dir=work) as temp:
        signed = os.path.join(temp, 'signed.msix')
        cert = make_signed(tool, template, '1.2.3.4', clsid, signed)
        run(check + [signed, '--cert', cert, '--ca', cert])
        other_authority, _ = make_certificate(tempfile.mkdtemp(dir=temp))
        # The build's package, which names the test publisher, signed with the test certificate.
        foreign = os.path.join(temp, 'foreign.msix')
        run(['osslsigncode', 'sign', '-pkcs12', os.path.join(temp, 'test.p12'), '-in', unsigned, '-out', foreign])
        # The same, with a certificate of the named publisher travelling beside the signer's.
        beside = os.path.join(temp, 'beside.msix')
        named, _ = make_certificate(tempfile.mkdtemp(dir=temp), '/' + pkg.TEST_PUBLISHER)
        run(['osslsigncode', 'sign', '-pkcs12', os.path.join(temp, 'test.p12'), '-ac', named, '-in', unsigned,
             '-out', beside])
        cases = [('verified against another authority', signed, ['--ca', other_authority]),
                 ('signed by another than the publisher the manifest names', foreign, ['--ca', cert]),
                 ("signed by another, the named publisher's certificate beside", beside, []),
                 ('unsigned where a signature is required', unsigned, ['--ca', cert])]
        cases += [(what, path, []) for what, path in broken_copies(pkg, unsigned, temp)]
        failed = []
        for what, path, extra in cases:
            if run(check + [path] + extra, expect_ok=False).returncode == 0:
                failed.append(what)
        if failed:
            sys.exit('the checker accepted: ' + '; '.join(failed))
    print('package checks passed')


if __name__ == '__main__':
    if sys.argv[1] == 'test' and len(sys.argv) == 7:
        test(*sys.argv[2:])
    elif sys.argv[1] == 'make-signed' and len(sys.argv) == 7:
        make_signed(*sys.argv[2:])
    else:
        sys.exit(__doc__)
