<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>Cadastro de Contribuintes de ICMS - Consulta Pública</title>
<style>
body { font-family: Arial, sans-serif; font-size: 13px; margin: 1.5em; }
nav a { margin-right: 1.2em; }
td { padding: 2px 6px; }
.captcha { display: inline-block; padding: 4px 10px; margin-right: 6px; background: #dde; font: italic bold 18px monospace; letter-spacing: 4px; }
</style>
</head>
<body>
<nav><a href="/Pages/Cadastro/Consultas/ConsultaPublica/ConsultaPublica.aspx">Consulta Pública</a> <a href="/Pages/Ajuda.aspx">Ajuda</a> <a href="/Pages/Legislacao.aspx">Legislação</a></nav>
<h2>Cadastro de Contribuintes de ICMS - Consulta Pública</h2>
<div id="conteudo">
<form id="consulta" method="post" action="ConsultaPublica.aspx">
  <p>Filtro: <select id="ctl00_conteudoPaginaPlaceHolder_tcConsultaCompleta_TabPanel1_tipoFiltroDropDownList" name="ctl00$conteudoPaginaPlaceHolder$tcConsultaCompleta$TabPanel1$tipoFiltroDropDownList">
    <option value="">Selecione</option>
    <option value="1">CNPJ</option>
    <option value="2">IE</option>
    <option value="3">Nome Empresarial</option>
  </select>
  <input id="ctl00_conteudoPaginaPlaceHolder_tcConsultaCompleta_TabPanel1_valorFiltroTextBox" name="ctl00$conteudoPaginaPlaceHolder$tcConsultaCompleta$TabPanel1$valorFiltroTextBox" size="24" value=""></p>
  <p><span class="captcha" role="img" aria-label="captcha">7K3X</span>
  <label for="captcha">Digite os caracteres da imagem:</label> <input id="captcha" name="captcha" size="6" autocomplete="off" value=""></p>
  <input type="submit" value="Consultar">
</form>
</div>
<!-- The answer comes back into this page, a moment after the query was sent. -->
<template id="dados">
<table>
<tr><th colspan="6">Dados do Estabelecimento</th></tr>
<tr><td>IE:</td><td>123.456.789.110</td><td>CNPJ:</td><td>34.567.890/0001-12</td></tr>
<tr><td>Nome&nbsp;Empresarial:</td><td colspan="5">PAULISTA PECAS E SERVICOS LTDA</td></tr>
<tr><td>Nome&nbsp;Fantasia:</td><td colspan="5">PAULISTA PECAS</td></tr>
<tr><th colspan="6">Endereço do Estabelecimento</th></tr>
<tr><td>Logradouro:</td><td colspan="5">AVENIDA PAULISTA</td></tr>
<tr><td>Nº:</td><td>1500</td><td>Complemento:</td><td colspan="3">CONJ 52</td></tr>
<tr><td>Bairro:</td><td colspan="5">BELA VISTA</td></tr>
<tr><td>CEP:</td><td>01310-100</td><td>Município:</td><td>SÃO PAULO</td><td>UF:</td><td>SP</td></tr>
</table>
<p>Código de controle da consulta: 8F3A-21C7-9B05-D4E6</p>
</template>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
<script>
document.getElementById("consulta").addEventListener("submit", function (event) {
  event.preventDefault();
  // The query goes to the server in the background, as the portal's own page sends it.
  fetch(this.action, {method: "POST", body: new URLSearchParams(new FormData(this))});
  var conteudo = document.getElementById("conteudo");
  conteudo.textContent = "Consultando, aguarde...";
  setTimeout(function () {
    conteudo.textContent = "";
    conteudo.appendChild(document.getElementById("dados").content.cloneNode(true));
  }, 1000);
});
</script>
</body>
</html>
