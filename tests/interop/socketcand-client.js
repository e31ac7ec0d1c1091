// A socketcand raw-mode client for the CANopen slaves of the bed: connects, opens the
// bus, switches to raw mode, then hands every received data frame to `onFrame` as the
// canopen package's message object ({ id, data, len }) and sends its messages.
'use strict';

const net = require('net');
const { EventEmitter } = require('events');

class SocketcandClient extends EventEmitter {
    constructor({ host, port, bus }) {
        super();
        this.host = host;
        this.port = port;
        this.bus = bus;
        this.state = 'connecting';
        this.pending = '';
        this.socket = null;
    }

    // Resolves once the server has confirmed raw mode; rejects on any other answer.
    connect(timeoutMs = 5000) {
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => fail(new Error('socketcand handshake timed out')), timeoutMs);
            const fail = (error) => {
                clearTimeout(timer);
                if (this.socket)
                    this.socket.destroy();
                reject(error);
            };
            this.socket = net.connect({ host: this.host, port: this.port }, () => this.socket.setNoDelay(true));
            this.socket.setEncoding('latin1');
            this.socket.on('error', (error) => (this.state === 'raw' ? this.emit('error', error) : fail(error)));
            this.socket.on('close', () => this.emit('close'));
            this.socket.on('data', (chunk) => {
                this.pending += chunk;
                for (;;) {
                    const open = this.pending.indexOf('<');
                    const close = open < 0 ? -1 : this.pending.indexOf('>', open);
                    if (close < 0) {
                        this.pending = open < 0 ? '' : this.pending.slice(open);
                        return;
                    }
                    const words = this.pending.slice(open + 1, close).trim().split(/\s+/);
                    this.pending = this.pending.slice(close + 1);
                    this._element(words, resolve, fail, timer);
                }
            });
        });
    }

    _element(words, resolve, fail, timer) {
        const keyword = words[0];
        switch (this.state) {
            case 'connecting':
                if (keyword !== 'hi')
                    return fail(new Error(`unexpected greeting ${words.join(' ')}`));
                this.state = 'opening';
                this.socket.write(`< open ${this.bus} >`);
                return;
            case 'opening':
                if (keyword !== 'ok')
                    return fail(new Error(`bus refused: ${words.join(' ')}`));
                this.state = 'switching';
                this.socket.write('< rawmode >');
                return;
            case 'switching':
                if (keyword !== 'ok')
                    return fail(new Error(`raw mode refused: ${words.join(' ')}`));
                this.state = 'raw';
                clearTimeout(timer);
                resolve();
                return;
            case 'raw':
                if (keyword === 'frame' && words.length >= 3) {
                    const id = parseInt(words[1], 16);
                    const data = Buffer.from(words.slice(3).join(''), 'hex');
                    this.emit('frame', { id, data, len: data.length, ext: words[1].length === 8, rtr: false });
                }
                else if (keyword === 'rtr' && words.length === 4) {
                    const id = parseInt(words[1], 16);
                    this.emit('frame', { id, data: Buffer.alloc(0), len: Number(words[3]), ext: words[1].length === 8, rtr: true });
                }
                return;
        }
    }

    // Sends one data frame of the canopen package ({ id, data }).
    send({ id, data }) {
        if (this.state !== 'raw' || this.socket.destroyed)
            return;
        const bytes = [...data].map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
        const idText = id.toString(16).toUpperCase().padStart(3, '0');
        this.socket.write(`< send ${idText} ${data.length}${bytes.length ? ' ' + bytes.join(' ') : ''} >`);
    }

    close() {
        if (this.socket)
            this.socket.destroy();
    }
}

module.exports = { SocketcandClient };
