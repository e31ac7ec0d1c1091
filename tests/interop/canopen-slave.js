#!/usr/bin/env node
// One CANopen slave of the independent implementation (the npm package `canopen`), on the
// bed's virtual bus: its object dictionary comes from one of our EDS files, its frames go
// through a socketcand connection to the bed's server.
//
// A control port on 127.0.0.1 lets a test look at and change the slave from its own side,
// one command per line, one answer per line:
//     get 2200 0          -> ok 55            (the raw value, hex bytes, little-endian)
//     set 2100 0 A5       -> ok               (a new raw value; a mapped TPDO goes out)
//     state               -> ok 127           (NMT state: 0, 4 stopped, 5 operational, 127)
// The port is written to --control-port-file once the slave is on the bus.
//
// Usage: node canopen-slave.js --port P --node N --eds FILE [--host H] [--bus can0]
//                              [--control-port-file F] [--log FILE] [--max-seconds S]
'use strict';

const fs = require('fs');
const net = require('net');
const Module = require('module');

// The package's CRC-16 (block transfers only) comes from a native add-on; the bed
// installs with --ignore-scripts, so put the same CRC (CCITT, polynomial 0x1021, initial
// value 0, no reflection) in its place, in plain JavaScript.
function installCrcShim() {
    let resolved;
    try {
        resolved = require.resolve('node-crc');
    }
    catch (e) {
        return;
    }
    const shim = new Module(resolved, module);
    shim.filename = resolved;
    shim.loaded = true;
    shim.exports = {
        crc(width, reflect, polynomial, initial, finalXor, _a, _b, _c, data) {
            let crc = initial & 0xFFFF;
            for (const byte of data) {
                crc ^= byte << 8;
                for (let bit = 0; bit < 8; ++bit)
                    crc = (crc & 0x8000) ? ((crc << 1) ^ polynomial) & 0xFFFF : (crc << 1) & 0xFFFF;
            }
            const out = Buffer.alloc(2);
            out.writeUInt16BE((crc ^ finalXor) & 0xFFFF);
            return out;
        },
    };
    require.cache[resolved] = shim;
}
installCrcShim();

const { Device } = require('canopen');
const { SocketcandClient } = require('./socketcand-client');

function parseArgs(argv) {
    const args = { host: '127.0.0.1', port: 0, bus: 'can0', node: 0, eds: null, controlPortFile: null,
        log: null, maxSeconds: 900 };
    for (let i = 2; i < argv.length; ++i) {
        const next = () => argv[++i];
        switch (argv[i]) {
            case '--host': args.host = next(); break;
            case '--port': args.port = Number(next()); break;
            case '--bus': args.bus = next(); break;
            case '--node': args.node = Number(next()); break;
            case '--eds': args.eds = next(); break;
            case '--control-port-file': args.controlPortFile = next(); break;
            case '--log': args.log = next(); break;
            case '--max-seconds': args.maxSeconds = Number(next()); break;
            default: throw new Error(`unknown argument ${argv[i]}`);
        }
    }
    if (!args.port || !args.node || !args.eds)
        throw new Error('--port, --node and --eds are required');
    return args;
}

const args = parseArgs(process.argv);
let logStream = args.log ? fs.createWriteStream(args.log, { flags: 'a' }) : null;
function log(text) {
    if (logStream)
        logStream.write(`${new Date().toISOString()} node ${args.node}: ${text}\n`);
}

function entryOf(device, index, subIndex) {
    const entry = device.eds.getEntry(index);
    if (!entry)
        return null;
    if (entry.subNumber > 0)
        return entry[subIndex] || null;
    return subIndex === 0 ? entry : null;
}

function control(device, line) {
    const words = line.trim().split(/\s+/);
    try {
        switch (words[0]) {
            case 'get': {
                const entry = entryOf(device, parseInt(words[1], 16), parseInt(words[2], 16));
                if (!entry)
                    return 'error no such entry';
                return `ok ${Buffer.from(entry.raw).toString('hex').toUpperCase()}`;
            }
            case 'set': {
                const entry = entryOf(device, parseInt(words[1], 16), parseInt(words[2], 16));
                if (!entry)
                    return 'error no such entry';
                entry.raw = Buffer.from(words[3] || '', 'hex');
                return 'ok';
            }
            case 'state':
                return `ok ${device.nmt.state}`;
            default:
                return 'error unknown command';
        }
    }
    catch (e) {
        return `error ${e.message}`;
    }
}

async function main() {
    const device = new Device({ id: args.node, eds: args.eds });
    const client = new SocketcandClient({ host: args.host, port: args.port, bus: args.bus });

    device.addListener('message', (message) => client.send(message));
    client.on('frame', (frame) => {
        // A request the package cannot handle must not end the slave: the exception is
        // the observation (the master sees no answer).
        try {
            device.receive(frame);
        }
        catch (e) {
            log(`exception on ${frame.id.toString(16)} [${frame.data.toString('hex')}]: ${e.message}`);
        }
    });
    client.on('close', () => {
        log('bus connection closed');
        process.exit(0);
    });
    device.nmt.addListener('changeState', (state) => log(`NMT state ${state}`));

    await client.connect();
    device.start();
    log(`on the bus as node ${args.node} with ${args.eds}`);

    const controlServer = net.createServer((socket) => {
        let pending = '';
        socket.setEncoding('latin1');
        socket.on('data', (chunk) => {
            pending += chunk;
            let end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const line = pending.slice(0, end);
                pending = pending.slice(end + 1);
                const answer = control(device, line);
                log(`control "${line.trim()}" -> ${answer}`);
                socket.write(answer + '\n');
            }
        });
        socket.on('error', () => {});
    });
    controlServer.listen(0, '127.0.0.1', () => {
        if (args.controlPortFile)
            fs.writeFileSync(args.controlPortFile, `${controlServer.address().port}\n`);
    });

    const stop = (reason) => {
        log(`stopping: ${reason}`);
        device.stop();
        client.close();
        controlServer.close();
        if (logStream) {
            logStream.end();
            logStream = null;
        }
        setTimeout(() => process.exit(0), 50).unref();
    };
    process.on('SIGTERM', () => stop('SIGTERM'));
    process.on('SIGINT', () => stop('SIGINT'));
    setTimeout(() => stop('time limit'), args.maxSeconds * 1000).unref();
}

main().catch((e) => {
    process.stderr.write(`slave ${args.node}: ${e.stack || e}\n`);
    process.exit(1);
});
