'use strict';
// Loopback S3-compatible object store for the upload tests.
//
// s3rver stores the objects but does not check request signatures, so a front
// stands before it: it recomputes every AWS Signature Version 4 with an
// independent signer (@smithy/signature-v4), refuses a mismatch with 403
// SignatureDoesNotMatch, hashes each accepted body while streaming it on, and
// forwards the request to s3rver without its credentials.
//
//   node server.js --port P --store-port Q --dir D --bucket B --access-key K --secret-key S [--token T]
//
// Test hooks: GET /__uploads lists the bodies received ({key, size, sha256});
// a key starting with "__stall/" is read and never answered; one starting with
// "__fail500/" is answered with 500 InternalError.
// Everything binds 127.0.0.1.

const http = require('http');
const crypto = require('crypto');
const { SignatureV4 } = require('@smithy/signature-v4');
const { Hash } = require('@smithy/hash-node');
const S3rver = require('s3rver');

function option(name, fallback) {
  const i = process.argv.indexOf('--' + name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
}

const port = Number(option('port', '0'));
const storePort = Number(option('store-port', '0'));
const dir = option('dir', '/tmp/orb-s3');
const bucket = option('bucket', 'orb-test');
const accessKey = option('access-key', 'ORBTESTKEY');
const secretKey = option('secret-key', 'orb-test-secret');
const token = option('token', '');

const uploads = [];

function xmlError(res, status, code, message) {
  const body = '<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>' + code + '</Code><Message>' + message +
    '</Message></Error>';
  res.writeHead(status, { 'Content-Type': 'application/xml', 'Content-Length': Buffer.byteLength(body) });
  res.end(body);
}

function parseAmzDate(text) {
  const m = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(text || '');
  if (!m) return null;
  return new Date(Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]));
}

// null when the request carries a valid signature, else [status, code, message].
async function verify(req) {
  const auth = req.headers['authorization'] || '';
  const m = /^AWS4-HMAC-SHA256 Credential=([^/]+)\/(\d{8})\/([^/]+)\/s3\/aws4_request, ?SignedHeaders=([a-z0-9;-]+), ?Signature=([0-9a-f]{64})$/.exec(auth);
  if (!m) return [403, 'AccessDenied', 'missing or malformed Signature Version 4 authorization'];
  const [, keyId, day, region, signedList, signature] = m;
  if (keyId !== accessKey) return [403, 'InvalidAccessKeyId', 'unknown access key'];
  const when = parseAmzDate(req.headers['x-amz-date']);
  if (!when || when.toISOString().slice(0, 10).replace(/-/g, '') !== day)
    return [403, 'AccessDenied', 'bad x-amz-date'];
  if (Math.abs(Date.now() - when.getTime()) > 15 * 60 * 1000)
    return [403, 'RequestTimeTooSkewed', 'request time too far from server time'];
  const names = signedList.split(';');
  if (!names.includes('host') || !names.includes('x-amz-date') || !names.includes('x-amz-content-sha256'))
    return [403, 'AccessDenied', 'host, x-amz-date and x-amz-content-sha256 must be signed'];
  if (token && (req.headers['x-amz-security-token'] !== token || !names.includes('x-amz-security-token')))
    return [403, 'InvalidToken', 'missing or wrong security token'];

  const headers = {};
  for (const name of names) {
    if (req.headers[name] === undefined) return [403, 'AccessDenied', 'signed header missing: ' + name];
    headers[name] = req.headers[name];
  }
  const url = new URL(req.url, 'http://' + req.headers['host']);
  const query = {};
  for (const [k, v] of url.searchParams) query[k] = v;
  const signer = new SignatureV4({
    credentials: {
      accessKeyId: accessKey,
      secretAccessKey: secretKey,
      sessionToken: names.includes('x-amz-security-token') ? req.headers['x-amz-security-token'] : undefined,
    },
    region,
    service: 's3',
    sha256: Hash.bind(null, 'sha256'),
    uriEscapePath: false,
    applyChecksum: false,
  });
  const signed = await signer.sign(
    { method: req.method, protocol: 'http:', hostname: url.hostname, port: url.port, path: req.url.split('?')[0],
      query, headers },
    { signingDate: when });
  const expected = /Signature=([0-9a-f]{64})/.exec(signed.headers['authorization'] || '');
  if (!expected || expected[1] !== signature)
    return [403, 'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided'];
  return null;
}

async function main() {
  const store = new S3rver({ port: storePort, address: '127.0.0.1', silent: true, directory: dir,
    configureBuckets: [{ name: bucket }] });
  await store.run();

  const front = http.createServer(async (req, res) => {
    if (req.method === 'GET' && req.url === '/__uploads') {
      const body = JSON.stringify(uploads);
      res.writeHead(200, { 'Content-Type': 'application/json' });
      res.end(body);
      return;
    }
    let refusal;
    try {
      refusal = await verify(req);
    } catch (e) {
      refusal = [403, 'AccessDenied', 'cannot verify: ' + e.message];
    }
    if (refusal) {
      req.resume();
      req.on('end', () => xmlError(res, ...refusal));
      return;
    }
    const key = decodeURIComponent(req.url.split('?')[0].replace(/^\/[^/]+\//, ''));
    if (key.startsWith('__stall/')) {
      req.resume();
      return;  // never answered
    }
    if (key.startsWith('__fail500/')) {
      req.resume();
      req.on('end', () => xmlError(res, 500, 'InternalError', 'injected failure'));
      return;
    }

    const headers = Object.assign({}, req.headers);
    delete headers['authorization'];
    delete headers['x-amz-security-token'];
    delete headers['x-amz-content-sha256'];
    const upstream = http.request({ host: '127.0.0.1', port: storePort, method: req.method, path: req.url, headers },
      (answer) => {
        res.writeHead(answer.statusCode, answer.headers);
        answer.pipe(res);
      });
    upstream.on('error', (e) => xmlError(res, 502, 'BadGateway', e.message));
    const hash = crypto.createHash('sha256');
    let size = 0;
    req.on('data', (chunk) => {
      hash.update(chunk);
      size += chunk.length;
    });
    req.on('end', () => {
      if (req.method === 'PUT') uploads.push({ key, size, sha256: hash.digest('hex') });
    });
    req.pipe(upstream);
  });
  front.listen(port, '127.0.0.1', () => {
    process.stdout.write(JSON.stringify({ port: front.address().port, storePort }) + '\n');
  });
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + '\n');
  process.exit(1);
});
