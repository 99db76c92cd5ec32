// Logs in over plain HTTP, then calls every read method of the remote module
// through a stock JSON-RPC 2.0 client from the npm registry: the protocol is
// standard JSON-RPC over HTTP, nothing of our own on the client side.
'use strict';
const assert = require('node:assert/strict');
const jayson = require('jayson/promise');

const [host, port] = process.argv[2].split(':');
const base = `http://${host}:${port}`;
const MODULE = '/VOR01300.rdmConcAtivProje';

function packet(result, what) {
  assert.ok(result && typeof result === 'object', `${what}: no result`);
  const p = result.payload;
  assert.ok(Array.isArray(p.fields) && Array.isArray(p.rows), `${what}: not a data packet`);
  for (const row of p.rows) assert.equal(row.length, p.fields.length, `${what}: row width`);
  return p;
}
const column = (p, name) => p.fields.findIndex((f) => f.name === name);

async function main() {
  const login = await fetch(`${base}/session`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ operator: 'ANA', password: 'ana123' }),
  });
  assert.equal(login.status, 200, 'login refused');
  const { token } = await login.json();
  assert.ok(token, 'no token');

  const client = jayson.Client.http({
    hostname: host, port: Number(port), path: MODULE,
    headers: { Authorization: `Bearer ${token}` },
  });
  const call = async (method, params) => {
    const answer = await client.request(method, params);
    assert.equal(answer.jsonrpc, '2.0');
    assert.ok(!answer.error, `${method}: ${JSON.stringify(answer.error)}`);
    return answer.result;
  };

  const projects = packet(await call('getProjeto', ['0001', '', 'T']), 'getProjeto');
  assert.ok(projects.rows.length >= 2, 'getProjeto: the demo branch has projects');
  const activities = packet(await call('getConcAtivPro', ['0001', '0000000001']), 'getConcAtivPro');
  assert.ok(activities.rows.length > 0, 'getConcAtivPro: no activities');
  const first = activities.rows[0];
  const task = first[column(activities, 'NRTAREFA')];
  const step = first[column(activities, 'NRPLATIVTARE')];
  const bookings = packet(await call('getApropriaCSA', ['0001', '0000000001', task, step]), 'getApropriaCSA');
  const all = packet(await call('getCSAAux', ['0001', '0000000001']), 'getCSAAux');
  assert.ok(all.rows.length >= bookings.rows.length, 'getCSAAux: fewer than one activity has');
  const plan = (await call('getPlanProj', ['0001', '0000000001'])).payload;
  assert.ok(Array.isArray(plan) && plan.length === 2, 'getPlanProj: two packets');
  packet({ payload: plan[0] }, 'getPlanProj[0]');
  packet({ payload: plan[1] }, 'getPlanProj[1]');
  const operators = packet(await call('getFiltroOper', ['0001', '0000000001', '', 'T']), 'getFiltroOper');
  assert.ok(column(operators, 'IDMARCADO') >= 0 && operators.rows.length > 0, 'getFiltroOper');
  const items = packet(await call('getFiltroItemTrab', ['0001', '0000000001', '', 'T']), 'getFiltroItemTrab');
  assert.ok(column(items, 'CDITEMTRAB') >= 0 && items.rows.length > 0, 'getFiltroItemTrab');
  const filtered = await call('getFiltroConcAtiv', ['0001', '0000000001', '', 'T', '', 'T', '_A_C', '_A_N']);
  assert.equal(packet(filtered, 'getFiltroConcAtiv').rows.length, activities.rows.length);
  assert.deepEqual(filtered.byref, ['', 'T', '', 'T', '_A_C', '_A_N']);

  // Errors are JSON-RPC errors, and batches are answered call by call.
  const unknown = await client.request('getNada', []);
  assert.equal(unknown.error.code, -32601);
  const batch = await client.request([
    client.request('getProjeto', ['0001', '0000000001', ''], undefined, false),
    client.request('getCSAAux', ['0001', '0000000001'], undefined, false),
  ]);
  assert.equal(batch.length, 2);
  for (const answer of batch) assert.ok(answer.result && !answer.error, JSON.stringify(answer.error));
  // A client without the token is refused by the protocol's own code.
  const stranger = jayson.Client.http({ hostname: host, port: Number(port), path: MODULE });
  assert.equal((await stranger.request('getProjeto', ['0001', '', 'T'])).error.code, -32001);
  console.log('interop: login and every read method answered a stock JSON-RPC 2.0 client');
}

main().catch((e) => { console.error(e); process.exit(1); });
