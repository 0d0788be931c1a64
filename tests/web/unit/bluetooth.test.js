import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { scopedGlobals } from '../helpers/globals.js';
import { DEFAULT_NUS_SERVICE, DEFAULT_NUS_RX_CHAR, BluetoothRelay } from '../../../web/relay/bluetooth.js';

const use = scopedGlobals(afterEach);

describe('BluetoothRelay', () => {
  // A Web Bluetooth stand-in: devices with a GATT server, one service and one characteristic.
  function fakeDevice(name, { properties = { writeWithoutResponse: true }, failWrite = 0 } = {}) {
    const writes = [];
    const listeners = new Map();
    const characteristic = {
      properties,
      async writeValueWithoutResponse(chunk) { writes.push(['without', Buffer.from(chunk)]); },
      async writeValueWithResponse(chunk) {
        if (failWrite && writes.length + 1 === failWrite) throw new DOMException('GATT operation failed', 'NetworkError');
        writes.push(['with', Buffer.from(chunk)]);
      },
    };
    const device = {
      name,
      writes,
      lookups: [],
      gatt: {
        connected: false,
        async connect() { this.connected = true; return this; },
        disconnect() {
          this.connected = false;
          listeners.get('gattserverdisconnected')?.();
        },
        async getPrimaryService(uuid) {
          device.lookups.push(uuid);
          return { async getCharacteristic(charUuid) { device.lookups.push(charUuid); return characteristic; } };
        },
      },
      addEventListener(type, handler) { listeners.set(type, handler); },
      removeEventListener(type, handler) { if (listeners.get(type) === handler) listeners.delete(type); },
      drop() { this.gatt.connected = false; listeners.get('gattserverdisconnected')?.(); },
    };
    return device;
  }

  function installBluetooth(...devices) {
    const requests = [];
    use('navigator', {
      bluetooth: {
        async requestDevice(options) {
          requests.push(options);
          if (!devices.length) throw new DOMException('User cancelled the requestDevice() chooser.', 'NotFoundError');
          return devices.shift();
        },
      },
    });
    return requests;
  }

  it('has the Nordic UART defaults', () => {
    assert.equal(DEFAULT_NUS_SERVICE, '6e400001-b5a3-f393-e0a9-e50e24dcca9e');
    assert.equal(DEFAULT_NUS_RX_CHAR, '6e400002-b5a3-f393-e0a9-e50e24dcca9e');
  });

  it('reports an unsupported browser', async () => {
    use('navigator', {});
    const relay = new BluetoothRelay();
    assert.deepEqual(relay.getStatus(), { supported: false, connected: false, deviceName: null });
    await assert.rejects(relay.connect(), {
      message: 'Web Bluetooth is not supported in this browser (use Chrome/Edge on Android, Windows, macOS, or Linux — or use Wi-Fi / System Share on iOS).',
    });
  });

  it('pairs through the chooser with trimmed, lower-cased UUIDs and reports each change', async () => {
    const device = fakeDevice('Scanner Dock');
    const requests = installBluetooth(device);
    const statuses = [];
    const relay = new BluetoothRelay((status) => statuses.push(status));
    const status = await relay.connect({ serviceUuid: ' 0000FFE0-0000-1000-8000-00805F9B34FB ', rxCharUuid: '' });
    assert.deepEqual(requests, [{ acceptAllDevices: true, optionalServices: ['0000ffe0-0000-1000-8000-00805f9b34fb'] }]);
    assert.deepEqual(device.lookups, ['0000ffe0-0000-1000-8000-00805f9b34fb', DEFAULT_NUS_RX_CHAR]);
    assert.deepEqual(status, { supported: true, connected: true, deviceName: 'Scanner Dock' });
    assert.deepEqual(statuses.at(-1), status);
  });

  it('passes the chooser\'s cancel through', async () => {
    installBluetooth();
    await assert.rejects(new BluetoothRelay().connect(), { name: 'NotFoundError' });
  });

  it('writes 20-byte chunks with CR LF, awaiting each', async () => {
    const device = fakeDevice('Dock');
    installBluetooth(device);
    const relay = new BluetoothRelay();
    await relay.connect();
    const text = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghi'; // 45 bytes
    await relay.send(text);
    assert.deepEqual(device.writes.map(([, chunk]) => chunk.length), [20, 20, 7]);
    assert.equal(Buffer.concat(device.writes.map(([, c]) => c)).toString(), `${text}\r\n`);
    assert.ok(device.writes.every(([kind]) => kind === 'without'));
    device.writes.length = 0;
    await relay.send(text, { pressEnter: false });
    assert.deepEqual(device.writes.map(([, chunk]) => chunk.length), [20, 20, 5]);
  });

  it('encodes UTF-8 and may split a character across chunks', async () => {
    const device = fakeDevice('Dock', { properties: { write: true } });
    installBluetooth(device);
    const relay = new BluetoothRelay();
    await relay.connect();
    await relay.send(`${'x'.repeat(19)}é`, { pressEnter: false });
    assert.deepEqual(device.writes.map(([kind, chunk]) => [kind, [...chunk]]), [
      ['with', [...Buffer.from('x'.repeat(19)), 0xc3]],
      ['with', [0xa9]],
    ]);
  });

  it('stops at a failed write, keeping the chunks already written', async () => {
    const device = fakeDevice('Dock', { properties: {}, failWrite: 2 });
    installBluetooth(device);
    const relay = new BluetoothRelay();
    await relay.connect();
    await assert.rejects(relay.send('y'.repeat(50)), { name: 'NetworkError' });
    assert.equal(device.writes.length, 1);
  });

  it('refuses to send while not connected', async () => {
    installBluetooth();
    await assert.rejects(new BluetoothRelay().send('A'), { message: 'No Bluetooth device connected. Pair a device first.' });
  });

  it('names an unnamed device only while connected', async () => {
    const device = fakeDevice(undefined);
    installBluetooth(device);
    const statuses = [];
    const relay = new BluetoothRelay((status) => statuses.push(status));
    await relay.connect();
    assert.equal(relay.getStatus().deviceName, 'Bluetooth Device');
    device.drop();
    assert.deepEqual(statuses.at(-1), { supported: true, connected: false, deviceName: null });
    await assert.rejects(relay.send('A'), { message: 'No Bluetooth device connected. Pair a device first.' });
  });

  it('disconnects on request and reports again on the browser\'s event', async () => {
    const device = fakeDevice('Dock');
    installBluetooth(device);
    const statuses = [];
    const relay = new BluetoothRelay((status) => statuses.push(status));
    await relay.connect();
    statuses.length = 0;
    relay.disconnect();
    assert.equal(device.gatt.connected, false);
    assert.deepEqual(statuses, [
      { supported: true, connected: false, deviceName: 'Dock' },
      { supported: true, connected: false, deviceName: 'Dock' },
    ]);
  });

  it('moves the disconnect handler to a newly paired device', async () => {
    const first = fakeDevice('First');
    const second = fakeDevice('Second');
    installBluetooth(first, second);
    const statuses = [];
    const relay = new BluetoothRelay((status) => statuses.push(status));
    await relay.connect();
    await relay.connect();
    assert.equal(first.gatt.connected, false, 'the old link is closed');
    statuses.length = 0;
    first.drop();
    assert.deepEqual(statuses, []);
    assert.deepEqual(relay.getStatus(), { supported: true, connected: true, deviceName: 'Second' });
    second.drop();
    assert.deepEqual(statuses, [{ supported: true, connected: false, deviceName: 'Second' }]);
  });

  it('is not connected after a failed connection to another device', async () => {
    const first = fakeDevice('First');
    const broken = fakeDevice('Broken');
    broken.gatt.getPrimaryService = async () => { throw new DOMException('No Services matching UUID found', 'NotFoundError'); };
    installBluetooth(first, broken);
    const relay = new BluetoothRelay();
    await relay.connect();
    await assert.rejects(relay.connect(), { name: 'NotFoundError' });
    assert.equal(relay.getStatus().connected, false);
    await assert.rejects(relay.send('A'), { message: 'No Bluetooth device connected. Pair a device first.' });
  });
});
