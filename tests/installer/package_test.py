#!/usr/bin/env python3
"""The Windows 11 package as the build writes it, read back by the checker: the normal build's unsigned
package, one signed with a test certificate made here, and broken copies that the checker must refuse.

  package_test.py test <make-package.py> <template> <unsigned package> <clsid> <work folder>
  package_test.py make-signed <make-package.py> <template> <version> <clsid> <out package>
"""
import importlib.util
import os
import subprocess
import sys
import tempfile

# A subject with a comma and a quote: the manifest must name it as Windows writes it.
TEST_SUBJECT = '/C=DE/O=Ostrelan, "Test" Publishing/CN=Dirvane Package Test'


def run(args, expect_ok=True):
    result = subprocess.run(args, capture_output=True, text=True)
    if (result.returncode == 0) != expect_ok:
        sys.exit('%s\nexit %d\n%s%s' % (' '.join(args), result.returncode, result.stdout, result.stderr))
    return result


def make_certificate(folder):
    """A self-signed code-signing certificate (its own authority) and its PKCS#12 without password."""
    key, cert, p12 = (os.path.join(folder, n) for n in ('test.key', 'test.pem', 'test.p12'))
    if not os.path.exists(p12):
        run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
             '-days', '3650', '-subj', TEST_SUBJECT, '-addext', 'extendedKeyUsage=codeSigning',
             '-addext', 'keyUsage=critical,digitalSignature', '-addext', 'basicConstraints=CA:FALSE'])
        run(['openssl', 'pkcs12', '-export', '-inkey', key, '-in', cert, '-out', p12, '-passout', 'pass:'])
    return cert, p12


def make_signed(tool, template, version, clsid, out):
    cert, p12 = make_certificate(os.path.dirname(os.path.abspath(out)))
    unsigned = out + '.unsigned'
    run([sys.executable, tool, 'build', '--template', template, '--version', version, '--clsid', clsid,
         '--out', unsigned, '--pkcs12', p12])
    if os.path.exists(out):
        os.remove(out)
    run(['osslsigncode', 'sign', '-pkcs12', p12, '-h', 'sha256', '-in', unsigned, '-out', out])
    os.remove(unsigned)
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
    cases = {
        'a logo changed after the block map was written': rewrite('Logo44.png', lambda d: d[:-1] + b'\0'),
        'another class in the manifest': rewrite('AppxManifest.xml', lambda d: d.replace(b'5B3C8E1A', b'5B3C8E1B')),
        'a menu item type dropped': rewrite('AppxManifest.xml',
                                            lambda d: d.replace(b'Type="Directory\\Background"', b'Type=".txt"')),
        'external content switched off': rewrite('AppxManifest.xml', lambda d: d.replace(
            b'<uap10:AllowExternalContent>true', b'<uap10:AllowExternalContent>false')),
        'a part no content type covers': parts + [('notes.txt', b'x')],
        'a part the block map does not describe': parts[:1] + [('Extra.png', b'x')] + parts[1:],
        'a part outside the package': parts + [('../evil.png', b'x')],
    }
    for index, (what, case) in enumerate(cases.items()):
        path = os.path.join(work, 'broken-%d.msix' % index)
        pkg.write_zip(path, case)
        yield what, path


def test(tool, template, unsigned, clsid, work):
    os.makedirs(work, exist_ok=True)
    pkg = load_tool(tool)
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
        cases = [('verified against another authority', signed, ['--ca', other_authority]),
                 ('signed by another than the publisher the manifest names', foreign, ['--ca', cert]),
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
