#!/usr/bin/env node
// A small socketcand-protocol server that carries one virtual CAN bus among its clients
// on 127.0.0.1: every frame one client sends reaches every other client in raw mode.
//
// It speaks what the network driver library and python-can's socketcand interface use:
// "< hi >" on connect, "< open BUS >" and "< rawmode >" answered "< ok >", then
// "< send ID DLC b0 .. >" and "< sendrtr ID DLC >" from clients and "< frame ID sec.usec
// DATA >" / "< rtr ID sec.usec DLC >" to them (an 8-digit ID is an extended one; DATA as
// one run of hex pairs, as socketcand itself writes it). "< echo >" is echoed; anything
// else in raw mode gets "< error unknown command >".
//
// Two allowances for python-can 4.1's socketcand client (the bed's witness):
//  - it reads each handshake answer with a single recv and compares it whole, so the
//    server holds bus frames back for 100 ms after a client's raw-mode "< ok >";
//  - after each element it drops one more character than it parsed, so the server ends
//    every frame element with a line end (which other clients skip as text between
//    elements).
//
// Usage: node socketcand-server.js [--port N] [--port-file FILE] [--bus NAME]...
//                                  [--log FILE] [--max-seconds S]
// Port 0 (the default) takes a free port; it is printed ("listening PORT") and written to
// the port file. The server ends on SIGTERM/SIGINT, or by itself after --max-seconds.
'use strict';

const net = require('net');
const fs = require('fs');

function parseArgs(argv) {
    const args = { port: 0, portFile: null, buses: [], log: null, maxSeconds: 900 };
    for (let i = 2; i < argv.length; ++i) {
        const next = () => argv[++i];
        switch (argv[i]) {
            case '--port': args.port = Number(next()); break;
            case '--port-file': args.portFile = next(); break;
            case '--bus': args.buses.push(next()); break;
            case '--log': args.log = next(); break;
            case '--max-seconds': args.maxSeconds = Number(next()); break;
            default: throw new Error(`unknown argument ${argv[i]}`);
        }
    }
    if (args.buses.length === 0)
        args.buses.push('can0');
    return args;
}

const args = parseArgs(process.argv);
let logStream = args.log ? fs.createWriteStream(args.log, { flags: 'a' }) : null;
function log(text) {
    if (logStream)
        logStream.write(`${new Date().toISOString()} ${text}\n`);
}

const HOLD_BACK_MS = 100;
const MAX_ELEMENT = 256;
const clients = new Set();
let nextClientId = 1;

function timestamp() {
    const ns = process.hrtime.bigint();
    const sec = ns / 1000000000n;
    const usec = (ns / 1000n) % 1000000n;
    return `${sec}.${usec.toString().padStart(6, '0')}`;
}

function hexId(id, extended) {
    return id.toString(16).toUpperCase().padStart(extended ? 8 : 3, '0');
}

// Parses "send ID DLC b0 .. b7" or "sendrtr ID DLC" (words after the keyword).
function parseSend(words, remote) {
    if (words.length < 2)
        return null;
    const idText = words[0];
    if (!/^[0-9A-Fa-f]{1,8}$/.test(idText) || !/^[0-9]{1,2}$/.test(words[1]))
        return null;
    const extended = idText.length === 8;
    const id = parseInt(idText, 16);
    const dlc = Number(words[1]);
    if (dlc > 8 || id > (extended ? 0x1FFFFFFF : 0x7FF))
        return null;
    if (remote)
        return words.length === 2 ? { id, extended, remote: true, dlc, data: Buffer.alloc(0) } : null;
    if (words.length !== 2 + dlc)
        return null;
    const data = Buffer.alloc(dlc);
    for (let i = 0; i < dlc; ++i) {
        if (!/^[0-9A-Fa-f]{1,2}$/.test(words[2 + i]))
            return null;
        data[i] = parseInt(words[2 + i], 16);
    }
    return { id, extended, remote: false, dlc, data };
}

function frameElement(frame) {
    const id = hexId(frame.id, frame.extended);
    if (frame.remote)
        return `< rtr ${id} ${timestamp()} ${frame.dlc} >\n`;
    return `< frame ${id} ${timestamp()} ${frame.data.toString('hex').toUpperCase()} >\n`;
}

function deliver(client, text) {
    if (client.holdUntil > Date.now()) {
        client.held.push(text);
        return;
    }
    client.socket.write(text);
}

function broadcast(sender, frame) {
    const text = frameElement(frame);
    log(`bus ${sender.bus} from ${sender.id}: ${text.trim()}`);
    for (const client of clients) {
        if (client !== sender && client.state === 'raw' && client.bus === sender.bus)
            deliver(client, text);
    }
}

function handleElement(client, inner) {
    const words = inner.trim().split(/\s+/).filter((w) => w.length > 0);
    const keyword = words[0] || '';
    const reply = (text) => client.socket.write(text);
    switch (client.state) {
        case 'nobus':
            if (keyword === 'open' && words.length === 2 && args.buses.includes(words[1])) {
                client.bus = words[1];
                client.state = 'bcm';
                reply('< ok >');
            }
            else {
                reply('< error could not open bus >');
                client.socket.end();
            }
            return;
        case 'bcm':
            if (keyword === 'rawmode' && words.length === 1) {
                client.state = 'raw';
                client.holdUntil = Date.now() + HOLD_BACK_MS;
                reply('< ok >');
                setTimeout(() => {
                    client.holdUntil = 0;
                    if (!client.socket.destroyed)
                        for (const text of client.held.splice(0))
                            client.socket.write(text);
                }, HOLD_BACK_MS);
                log(`client ${client.id} in raw mode on ${client.bus}`);
            }
            else if (keyword === 'echo') {
                reply('< echo >');
            }
            else {
                reply('< error unknown command >');
            }
            return;
        case 'raw':
            if (keyword === 'send' || keyword === 'sendrtr') {
                const frame = parseSend(words.slice(1), keyword === 'sendrtr');
                if (frame)
                    broadcast(client, frame);
                else
                    reply('< error syntax error in send command >');
            }
            else if (keyword === 'echo') {
                reply('< echo >');
            }
            else if (keyword === 'bcmmode') {
                client.state = 'bcm';
                reply('< ok >');
            }
            else {
                reply('< error unknown command >');
            }
            return;
    }
}

const server = net.createServer((socket) => {
    socket.setNoDelay(true);
    const client = { id: nextClientId++, socket, state: 'nobus', bus: null, pending: '',
        holdUntil: 0, held: [] };
    clients.add(client);
    log(`client ${client.id} connected from port ${socket.remotePort}`);
    socket.setEncoding('latin1');
    socket.on('data', (chunk) => {
        client.pending += chunk;
        for (;;) {
            const open = client.pending.indexOf('<');
            if (open < 0) {
                client.pending = '';
                return;
            }
            const close = client.pending.indexOf('>', open);
            if (close < 0) {
                client.pending = client.pending.slice(open);
                if (client.pending.length > MAX_ELEMENT)
                    client.pending = '';
                return;
            }
            const inner = client.pending.slice(open + 1, close);
            client.pending = client.pending.slice(close + 1);
            handleElement(client, inner);
        }
    });
    const forget = () => {
        if (clients.delete(client))
            log(`client ${client.id} gone`);
    };
    socket.on('close', forget);
    socket.on('error', forget);
    socket.write('< hi >');
});

function stop(reason) {
    log(`stopping: ${reason}`);
    for (const client of clients)
        client.socket.destroy();
    server.close();
    if (logStream) {
        logStream.end();
        logStream = null;
    }
    setTimeout(() => process.exit(0), 50).unref();
}

process.on('SIGTERM', () => stop('SIGTERM'));
process.on('SIGINT', () => stop('SIGINT'));
setTimeout(() => stop('time limit'), args.maxSeconds * 1000).unref();

server.listen(args.port, '127.0.0.1', () => {
    const port = server.address().port;
    if (args.portFile)
        fs.writeFileSync(args.portFile, `${port}\n`);
    log(`listening on 127.0.0.1:${port}`);
    process.stdout.write(`listening ${port}\n`);
});
